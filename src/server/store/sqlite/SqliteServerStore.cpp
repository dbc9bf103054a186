#include "server/store/sqlite/SqliteServerStore.h"

#include "server/store/sqlite/BackupFiles.h"
#include "server/store/sqlite/SqliteStoreTransactions.h"

#include "platform/SqliteDatabase.h"

#include <QFileInfo>
#include <QUuid>

#include <memory>
#include <unordered_map>
#include <vector>

namespace server {
namespace {

std::atomic<quint64> nextGeneration{1};

// Every thread's connections, by store generation; closed when the thread ends.
thread_local std::unordered_map<quint64, std::unique_ptr<SqliteDatabase>> threadConnections;

const char *const schema = R"(
CREATE TABLE IF NOT EXISTS users(
    id TEXT PRIMARY KEY, email TEXT NOT NULL UNIQUE, password_hash TEXT NOT NULL,
    confirmed INTEGER NOT NULL, created_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS sign_ins(
    id TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    revoked INTEGER NOT NULL DEFAULT 0, created_at INTEGER NOT NULL, revoked_at INTEGER);
CREATE TABLE IF NOT EXISTS refresh_tokens(
    hash TEXT PRIMARY KEY, sign_in_id TEXT NOT NULL REFERENCES sign_ins(id) ON DELETE CASCADE,
    used INTEGER NOT NULL DEFAULT 0, created_at INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS refresh_tokens_by_sign_in ON refresh_tokens(sign_in_id);
CREATE TABLE IF NOT EXISTS one_time_tokens(
    hash TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    expires_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS counters(
    key TEXT NOT NULL, window_start INTEGER NOT NULL, window_end INTEGER NOT NULL, hits INTEGER NOT NULL,
    PRIMARY KEY(key, window_start));
CREATE INDEX IF NOT EXISTS counters_by_end ON counters(window_end);
CREATE TABLE IF NOT EXISTS backups(
    user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE, namespace TEXT NOT NULL,
    stored_at INTEGER NOT NULL, document BLOB NOT NULL, PRIMARY KEY(user_id, namespace));
CREATE TABLE IF NOT EXISTS content_cache(
    kind TEXT NOT NULL, key TEXT NOT NULL, value BLOB NOT NULL, stored_at INTEGER NOT NULL,
    expires_at INTEGER, PRIMARY KEY(kind, key));
CREATE TABLE IF NOT EXISTS claims(key TEXT PRIMARY KEY, owner TEXT NOT NULL, expires_at INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS sign_ins_by_revoked ON sign_ins(revoked_at) WHERE revoked = 1;
)";

// Columns added after the first release (ALTER TABLE has no IF NOT EXISTS): a confirmation
// link carries the password of the sign-up that sent it.
const char *const linkPasswordColumn = "ALTER TABLE one_time_tokens ADD COLUMN password_hash TEXT";
const char *const linksByUser = "CREATE INDEX IF NOT EXISTS one_time_tokens_by_user ON one_time_tokens(user_id)";
// A backup's document is a file of the folder beside the database (`file`, `size_bytes`); rows
// stored before keep theirs in `document` (`file` null) and are read from there until replaced.
// The bytes of a backup, in either form: coalesce(size_bytes, length(document)).
const char *const backupFileColumns[] = {"ALTER TABLE backups ADD COLUMN file TEXT",
                                         "ALTER TABLE backups ADD COLUMN size_bytes INTEGER"};
const char *const backupsByFile = "CREATE INDEX IF NOT EXISTS backups_by_file ON backups(file) WHERE file IS NOT NULL";

QString hashText(const QByteArray &hash)
{
    return QString::fromLatin1(hash);
}

UserRecord userFrom(const SqliteStatement &row)
{
    return UserRecord{row.text(0), row.text(1), row.text(2).toLatin1(), row.boolean(3), row.int64(4)};
}

bool hasColumn(SqliteDatabase &connection, const char *table, const QString &column)
{
    SqliteStatement info = connection.statement(table);
    while (info.step()) {
        if (info.text(1) == column)
            return true;
    }
    return false;
}

// Adds one to each counter; true when none is then over its limit.
bool addHits(SqliteDatabase &connection, const std::vector<RateHit> &hits)
{
    bool within = true;
    for (const RateHit &hit : hits) {
        SqliteStatement add = connection.statement(
            "INSERT INTO counters(key, window_start, window_end, hits) VALUES(?, ?, ?, 1) "
            "ON CONFLICT(key, window_start) DO UPDATE SET hits = hits + 1 RETURNING hits");
        add.bind(1, hit.key).bind(2, hit.windowStart).bind(3, hit.windowStart + hit.windowSeconds);
        const qint64 count = add.step() ? add.int64(0) : 1;
        while (add.step()) {
        }
        within = within && count <= hit.limit;
    }
    return within;
}

SignInRecord insertSignIn(SqliteDatabase &connection, const QString &userId, const QByteArray &refreshTokenHash,
                          qint64 now)
{
    SignInRecord signIn{QUuid::createUuid().toString(QUuid::WithoutBraces), userId, false};
    connection.statement("INSERT INTO sign_ins(id, user_id, created_at) VALUES(?, ?, ?)")
        .bind(1, signIn.id).bind(2, userId).bind(3, now).run();
    connection.statement("INSERT INTO refresh_tokens(hash, sign_in_id, created_at) VALUES(?, ?, ?)")
        .bind(1, hashText(refreshTokenHash)).bind(2, signIn.id).bind(3, now).run();
    return signIn;
}

std::optional<UserRecord> userWhereEmail(SqliteDatabase &connection, const QString &email)
{
    SqliteStatement query =
        connection.statement("SELECT id, email, password_hash, confirmed, created_at FROM users WHERE email = ?");
    query.bind(1, email);
    return query.step() ? std::optional(userFrom(query)) : std::nullopt;
}

// The account that waits for its confirmation, when `linkHash` is one of its live links.
std::optional<UserRecord> pendingUserOfLink(SqliteDatabase &connection, const QByteArray &linkHash, qint64 now)
{
    SqliteStatement query = connection.statement(
        "SELECT u.id, u.email, u.password_hash, u.confirmed, u.created_at FROM one_time_tokens t "
        "JOIN users u ON u.id = t.user_id WHERE t.hash = ? AND t.expires_at > ? AND u.confirmed = 0");
    query.bind(1, hashText(linkHash)).bind(2, now);
    return query.step() ? std::optional(userFrom(query)) : std::nullopt;
}

// Runs a DELETE whose one parameter is a time; answers the rows it deleted.
qint64 deleted(SqliteDatabase &connection, const char *sql, qint64 time)
{
    connection.statement(sql).bind(1, time).run();
    return connection.changes();
}

SqliteDatabase::Options connectionOptions()
{
    SqliteDatabase::Options options;
    options.cacheKiB = 2048; // per request thread; the operating system caches the file as well
    return options;
}

} // namespace

SqliteServerStore::SqliteServerStore(QString path, SqliteWriteOptions writes)
    : m_path(std::move(path))
    , m_writes(writes.queueCapacity, writes.maxWait)
    , m_generation(nextGeneration++)
    , m_files(std::make_unique<BackupFiles>(m_path.toStdString() + "-backups"))
{
    write("open", [](SqliteDatabase &connection) {
        connection.exec(QString::fromLatin1(schema));
        if (!hasColumn(connection, "PRAGMA table_info(one_time_tokens)", QStringLiteral("password_hash")))
            connection.exec(QString::fromLatin1(linkPasswordColumn));
        connection.exec(QString::fromLatin1(linksByUser));
        if (!hasColumn(connection, "PRAGMA table_info(backups)", QStringLiteral("file"))) {
            for (const char *column : backupFileColumns)
                connection.exec(QString::fromLatin1(column));
        }
        connection.exec(QString::fromLatin1(backupsByFile));
        return 0;
    });
}

SqliteServerStore::~SqliteServerStore()
{
    threadConnections.erase(m_generation);
}

SqliteDatabase &SqliteServerStore::db()
{
    std::unique_ptr<SqliteDatabase> &connection = threadConnections[m_generation];
    if (!connection)
        connection = std::make_unique<SqliteDatabase>(SqliteDatabase::open(m_path, connectionOptions()));
    return *connection;
}

bool SqliteServerStore::ping()
{
    try {
        SqliteStatement query = db().statement("SELECT 1");
        return query.step();
    } catch (const ::StoreError &) {
        return false;
    }
}

std::optional<UserRecord> SqliteServerStore::createUser(const QString &email, const QByteArray &passwordHash,
                                                        bool confirmed, qint64 now)
{
    return write("createUser", [&](SqliteDatabase &connection) -> std::optional<UserRecord> {
        UserRecord user{QUuid::createUuid().toString(QUuid::WithoutBraces), email, passwordHash, confirmed, now};
        SqliteStatement insert = connection.statement(
            "INSERT INTO users(id, email, password_hash, confirmed, created_at) VALUES(?, ?, ?, ?, ?) "
            "ON CONFLICT(email) DO NOTHING");
        insert.bind(1, user.id).bind(2, email).bind(3, QString::fromLatin1(passwordHash)).bind(4, confirmed).bind(5, now);
        insert.run();
        if (connection.changes() == 0)
            return std::nullopt;
        return user;
    });
}

SignUpOutcome SqliteServerStore::signUp(const std::vector<RateHit> &hits, const SignUpRequest &request)
{
    return write("signUp", [&](SqliteDatabase &connection) {
        SignUpOutcome result;
        if (!addHits(connection, hits)) {
            result.outcome = SignUpOutcome::Outcome::Limited;
            return result;
        }
        const std::optional<UserRecord> existing = userWhereEmail(connection, request.email);
        if (existing && (existing->confirmed || !request.linkHash)) {
            result.outcome = SignUpOutcome::Outcome::Taken;
            return result;
        }
        const QString hash = QString::fromLatin1(request.passwordHash);
        if (existing) {
            // The account's own password hash follows the latest sign-up; it signs nobody in
            // while unconfirmed (it only tells "not confirmed" from "wrong password").
            connection.statement("UPDATE users SET password_hash = ? WHERE id = ?").bind(1, hash).bind(2, existing->id).run();
            result.user = *existing;
            result.user.passwordHash = request.passwordHash;
            result.outcome = SignUpOutcome::Outcome::Pending;
        } else {
            result.user = UserRecord{QUuid::createUuid().toString(QUuid::WithoutBraces), request.email,
                                     request.passwordHash, !request.linkHash, request.now};
            connection.statement("INSERT INTO users(id, email, password_hash, confirmed, created_at) VALUES(?, ?, ?, ?, ?)")
                .bind(1, result.user.id).bind(2, request.email).bind(3, hash).bind(4, result.user.confirmed)
                .bind(5, request.now).run();
            result.outcome = SignUpOutcome::Outcome::Created;
            if (request.refreshTokenHash && result.user.confirmed)
                result.signIn = insertSignIn(connection, result.user.id, *request.refreshTokenHash, request.now);
        }
        if (request.linkHash) {
            connection.statement("INSERT OR REPLACE INTO one_time_tokens(hash, user_id, expires_at, password_hash) "
                                 "VALUES(?, ?, ?, ?)")
                .bind(1, hashText(*request.linkHash)).bind(2, result.user.id).bind(3, request.linkExpiresAt)
                .bind(4, hash).run();
        }
        return result;
    });
}

std::optional<PendingSignUps> SqliteServerStore::pendingSignUps(const QByteArray &linkHash, qint64 now, int limit)
{
    return guarded("pendingSignUps", [&]() -> std::optional<PendingSignUps> {
        SqliteDatabase &connection = db();
        SqliteTransaction snapshot(connection, SqliteTransaction::Mode::Deferred);
        const std::optional<UserRecord> user = pendingUserOfLink(connection, linkHash, now);
        if (!user)
            return std::nullopt;
        PendingSignUps pending{*user, {}};
        // A link made before links carried a password stands for the account's own.
        SqliteStatement query = connection.statement(
            "SELECT coalesce(t.password_hash, u.password_hash) AS pending FROM one_time_tokens t "
            "JOIN users u ON u.id = t.user_id WHERE t.user_id = ? AND t.expires_at > ? "
            "GROUP BY pending ORDER BY max(t.rowid) DESC LIMIT ?");
        query.bind(1, user->id).bind(2, now).bind(3, qint64(limit));
        while (query.step())
            pending.passwordHashes.push_back(query.text(0).toLatin1());
        snapshot.commit();
        return pending;
    });
}

Confirmation SqliteServerStore::confirmSignUp(const std::vector<RateHit> &hits, const QByteArray &linkHash,
                                              const QByteArray &passwordHash, qint64 now)
{
    return write("confirmSignUp", [&](SqliteDatabase &connection) {
        Confirmation result;
        if (!addHits(connection, hits)) {
            result.outcome = Confirmation::Outcome::Limited;
            return result;
        }
        const std::optional<UserRecord> user =
            passwordHash.isEmpty() ? std::nullopt : pendingUserOfLink(connection, linkHash, now);
        if (!user)
            return result;
        {
            SqliteStatement stillPending = connection.statement(
                "SELECT 1 FROM one_time_tokens t JOIN users u ON u.id = t.user_id WHERE t.user_id = ? "
                "AND t.expires_at > ? AND coalesce(t.password_hash, u.password_hash) = ? LIMIT 1");
            stillPending.bind(1, user->id).bind(2, now).bind(3, hashText(passwordHash));
            if (!stillPending.step())
                return result;
        }
        connection.statement("UPDATE users SET confirmed = 1, password_hash = ? WHERE id = ?")
            .bind(1, hashText(passwordHash)).bind(2, user->id).run();
        // No other pending sign-up's password can be activated any more.
        connection.statement("DELETE FROM one_time_tokens WHERE user_id = ?").bind(1, user->id).run();
        result.outcome = Confirmation::Outcome::Confirmed;
        result.user = *user;
        result.user.confirmed = true;
        result.user.passwordHash = passwordHash;
        return result;
    });
}

bool SqliteServerStore::addLinkForLatestSignUp(const QString &userId, const QByteArray &linkHash, qint64 expiresAt)
{
    return write("addLinkForLatestSignUp", [&](SqliteDatabase &connection) {
        connection.statement(
                "INSERT INTO one_time_tokens(hash, user_id, expires_at, password_hash) "
                "SELECT ?, t.user_id, ?, t.password_hash FROM one_time_tokens t JOIN users u ON u.id = t.user_id "
                "WHERE t.user_id = ? AND u.confirmed = 0 ORDER BY t.rowid DESC LIMIT 1")
            .bind(1, hashText(linkHash)).bind(2, expiresAt).bind(3, userId).run();
        return connection.changes() > 0;
    });
}

std::optional<UserRecord> SqliteServerStore::userByEmail(const QString &email)
{
    return guarded("userByEmail", [&]() -> std::optional<UserRecord> {
        SqliteStatement query =
            db().statement("SELECT id, email, password_hash, confirmed, created_at FROM users WHERE email = ?");
        query.bind(1, email);
        return query.step() ? std::optional(userFrom(query)) : std::nullopt;
    });
}

std::optional<UserRecord> SqliteServerStore::userById(const QString &userId)
{
    return guarded("userById", [&]() -> std::optional<UserRecord> {
        SqliteStatement query =
            db().statement("SELECT id, email, password_hash, confirmed, created_at FROM users WHERE id = ?");
        query.bind(1, userId);
        return query.step() ? std::optional(userFrom(query)) : std::nullopt;
    });
}

SignInRecord SqliteServerStore::createSignIn(const QString &userId, const QByteArray &refreshTokenHash, qint64 now)
{
    return write("createSignIn",
                 [&](SqliteDatabase &connection) { return insertSignIn(connection, userId, refreshTokenHash, now); });
}

RefreshRotation SqliteServerStore::rotateRefreshToken(const QByteArray &presentedHash, const QByteArray &newHash,
                                                      qint64 now, const RateHit &perSignIn)
{
    return write("rotateRefreshToken", [&](SqliteDatabase &connection) {
        RefreshRotation rotation;
        bool used = false;
        bool revoked = false;
        {
            SqliteStatement query = connection.statement(
                "SELECT r.sign_in_id, r.used, s.revoked, s.user_id FROM refresh_tokens r "
                "JOIN sign_ins s ON s.id = r.sign_in_id WHERE r.hash = ?");
            query.bind(1, hashText(presentedHash));
            if (!query.step())
                return rotation; // Unknown
            rotation.signInId = query.text(0);
            used = query.boolean(1);
            revoked = query.boolean(2);
            rotation.userId = query.text(3);
        }
        if (revoked) {
            rotation.outcome = RefreshRotation::Outcome::Revoked;
        } else if (used) {
            connection.statement("UPDATE sign_ins SET revoked = 1, revoked_at = ? WHERE id = ?")
                .bind(1, now).bind(2, rotation.signInId).run();
            rotation.outcome = RefreshRotation::Outcome::Reused;
        } else if (perSignIn.limit > 0
                   && !addHits(connection, {RateHit{perSignIn.key + rotation.signInId, perSignIn.windowStart,
                                                    perSignIn.windowSeconds, perSignIn.limit}})) {
            rotation.outcome = RefreshRotation::Outcome::Limited;
        } else {
            connection.statement("UPDATE refresh_tokens SET used = 1 WHERE hash = ?").bind(1, hashText(presentedHash)).run();
            connection.statement("INSERT INTO refresh_tokens(hash, sign_in_id, created_at) VALUES(?, ?, ?)")
                .bind(1, hashText(newHash)).bind(2, rotation.signInId).bind(3, now).run();
            rotation.outcome = RefreshRotation::Outcome::Rotated;
        }
        return rotation;
    });
}

void SqliteServerStore::revokeSignIn(const QString &signInId, qint64 now)
{
    write("revokeSignIn", [&](SqliteDatabase &connection) {
        connection.statement("UPDATE sign_ins SET revoked = 1, revoked_at = ? WHERE id = ? AND revoked = 0")
            .bind(1, now).bind(2, signInId).run();
    });
}

std::optional<SignInRecord> SqliteServerStore::signIn(const QString &signInId)
{
    return guarded("signIn", [&]() -> std::optional<SignInRecord> {
        SqliteStatement query = db().statement("SELECT id, user_id, revoked FROM sign_ins WHERE id = ?");
        query.bind(1, signInId);
        if (!query.step())
            return std::nullopt;
        return SignInRecord{query.text(0), query.text(1), query.boolean(2)};
    });
}

qint64 SqliteServerStore::countHit(const QString &key, qint64 windowStart, qint64 windowSeconds)
{
    return write("countHit", [&](SqliteDatabase &connection) {
        SqliteStatement hit = connection.statement(
            "INSERT INTO counters(key, window_start, window_end, hits) VALUES(?, ?, ?, 1) "
            "ON CONFLICT(key, window_start) DO UPDATE SET hits = hits + 1 RETURNING hits");
        hit.bind(1, key).bind(2, windowStart).bind(3, windowStart + windowSeconds);
        const qint64 hits = hit.step() ? hit.int64(0) : 1;
        while (hit.step()) {
        }
        return hits;
    });
}

bool SqliteServerStore::countHits(const std::vector<RateHit> &hits)
{
    return write("countHits", [&](SqliteDatabase &connection) { return addHits(connection, hits); });
}

qint64 SqliteServerStore::hits(const QString &key, qint64 windowStart)
{
    return guarded("hits", [&] {
        SqliteStatement query = db().statement("SELECT hits FROM counters WHERE key = ? AND window_start = ?");
        query.bind(1, key).bind(2, windowStart);
        return query.step() ? query.int64(0) : qint64(0);
    });
}

void SqliteServerStore::putCached(const QString &kind, const QString &key, const std::string &value, qint64 now,
                                  std::optional<qint64> expiresAt)
{
    write("putCached", [&](SqliteDatabase &connection) {
        connection.statement("INSERT OR REPLACE INTO content_cache(kind, key, value, stored_at, expires_at) VALUES(?, ?, ?, ?, ?)")
            .bind(1, kind).bind(2, key).bindUtf8(3, QByteArrayView(value.data(), qsizetype(value.size())))
            .bind(4, now).bind(5, expiresAt).run();
    });
}

std::optional<CachedEntry> SqliteServerStore::cached(const QString &kind, const QString &key, qint64 now)
{
    return guarded("cached", [&]() -> std::optional<CachedEntry> {
        SqliteStatement query = db().statement(
            "SELECT value, stored_at FROM content_cache WHERE kind = ? AND key = ? AND (expires_at IS NULL OR expires_at > ?)");
        query.bind(1, kind).bind(2, key).bind(3, now);
        if (!query.step())
            return std::nullopt;
        const QUtf8StringView value = query.textView(0);
        return CachedEntry{std::string(value.data(), std::size_t(value.size())), query.int64(1)};
    });
}

bool SqliteServerStore::tryClaim(const QString &key, const QString &owner, qint64 now, qint64 expiresAt)
{
    return write("tryClaim", [&](SqliteDatabase &connection) {
        connection.statement("INSERT INTO claims(key, owner, expires_at) VALUES(?, ?, ?) ON CONFLICT(key) DO UPDATE SET "
                             "owner = excluded.owner, expires_at = excluded.expires_at "
                             "WHERE claims.owner = excluded.owner OR claims.expires_at <= ?")
            .bind(1, key).bind(2, owner).bind(3, expiresAt).bind(4, now).run();
        return connection.changes() > 0;
    });
}

void SqliteServerStore::releaseClaim(const QString &key, const QString &owner)
{
    write("releaseClaim", [&](SqliteDatabase &connection) {
        connection.statement("DELETE FROM claims WHERE key = ? AND owner = ?").bind(1, key).bind(2, owner).run();
    });
}

PruneReport SqliteServerStore::prune(qint64 now, const PruneAges &ages)
{
    // One short write per table, each in its turn: requests queue behind one of them at a time.
    PruneReport report;
    report.signIns = write("prune", [&](SqliteDatabase &connection) {
        const qint64 revoked = deleted(connection, "DELETE FROM sign_ins WHERE revoked = 1 AND revoked_at < ?1",
                                       now - ages.revokedSignIn);
        // Idle: no refresh token of the sign-in was issued since the cut-off.
        return revoked + deleted(connection,
                                 "DELETE FROM sign_ins WHERE NOT EXISTS (SELECT 1 FROM refresh_tokens r "
                                 "WHERE r.sign_in_id = sign_ins.id AND r.created_at >= ?1)",
                                 now - ages.idleSignIn);
    });
    report.refreshTokens = write("prune", [&](SqliteDatabase &connection) {
        return deleted(connection, "DELETE FROM refresh_tokens WHERE used = 1 AND created_at < ?1",
                       now - ages.usedRefreshToken);
    });
    report.counters = write("prune", [&](SqliteDatabase &connection) {
        return deleted(connection, "DELETE FROM counters WHERE window_end <= ?1", now);
    });
    report.other = write("prune", [&](SqliteDatabase &connection) {
        return deleted(connection, "DELETE FROM one_time_tokens WHERE expires_at <= ?1", now)
            + deleted(connection, "DELETE FROM claims WHERE expires_at <= ?1", now)
            + deleted(connection, "DELETE FROM content_cache WHERE expires_at IS NOT NULL AND expires_at <= ?1", now);
    });
    report.other += m_files->sweep([this](const std::string &name) {
        return guarded("prune", [&] {
            SqliteStatement query = db().statement("SELECT 1 FROM backups WHERE file = ?");
            query.bind(1, QString::fromStdString(name));
            return query.step();
        });
    });
    return report;
}

qint64 SqliteServerStore::refreshTokenRows()
{
    return guarded("refreshTokenRows", [&] {
        SqliteStatement query = db().statement("SELECT count(*) FROM refresh_tokens");
        return query.step() ? query.int64(0) : qint64(0);
    });
}

} // namespace server
