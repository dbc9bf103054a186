#include "server/store/sqlite/SqliteServerStore.h"

#include "platform/SqliteDatabase.h"

#include <QFileInfo>
#include <QUuid>

#include <sqlite3.h>

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace server {
namespace {

std::atomic<quint64> nextGeneration{1};

// A backup document is read and written in pieces of this size.
constexpr std::size_t backupPiece = 256 * 1024;

// Backup writes of this process, one at a time: a large one holds the database's write lock for
// a while, and uploads arriving together would otherwise wait on that lock and give up after
// the busy time-out; here they queue for as long as it takes.
std::mutex backupWrites;

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
)";

QString hashText(const QByteArray &hash)
{
    return QString::fromLatin1(hash);
}

UserRecord userFrom(const SqliteStatement &row)
{
    return UserRecord{row.text(0), row.text(1), row.text(2).toLatin1(), row.boolean(3), row.int64(4)};
}

SqliteDatabase::Options connectionOptions()
{
    SqliteDatabase::Options options;
    options.cacheKiB = 2048; // per request thread; the operating system caches the file as well
    return options;
}

} // namespace

SqliteServerStore::SqliteServerStore(QString path)
    : m_path(std::move(path))
    , m_generation(nextGeneration++)
{
    guarded("open", [this] {
        SqliteDatabase &connection = db();
        SqliteTransaction transaction(connection);
        connection.exec(QString::fromLatin1(schema));
        transaction.commit();
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

template<class Work>
auto SqliteServerStore::guarded(const char *what, Work &&work) -> decltype(work())
{
    try {
        return work();
    } catch (const ::StoreError &error) {
        throw server::StoreError(std::string("SQLite ") + what + ": " + error.what());
    }
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
    return guarded("createUser", [&]() -> std::optional<UserRecord> {
        UserRecord user{QUuid::createUuid().toString(QUuid::WithoutBraces), email, passwordHash, confirmed, now};
        SqliteStatement insert = db().statement(
            "INSERT INTO users(id, email, password_hash, confirmed, created_at) VALUES(?, ?, ?, ?, ?) "
            "ON CONFLICT(email) DO NOTHING");
        insert.bind(1, user.id).bind(2, email).bind(3, QString::fromLatin1(passwordHash)).bind(4, confirmed).bind(5, now);
        insert.run();
        if (db().changes() == 0)
            return std::nullopt;
        return user;
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

void SqliteServerStore::confirmUser(const QString &userId)
{
    guarded("confirmUser", [&] {
        SqliteStatement update = db().statement("UPDATE users SET confirmed = 1 WHERE id = ?");
        update.bind(1, userId).run();
        return 0;
    });
}

SignInRecord SqliteServerStore::createSignIn(const QString &userId, const QByteArray &refreshTokenHash, qint64 now)
{
    return guarded("createSignIn", [&] {
        SqliteDatabase &connection = db();
        SqliteTransaction transaction(connection);
        SignInRecord signIn{QUuid::createUuid().toString(QUuid::WithoutBraces), userId, false};
        connection.statement("INSERT INTO sign_ins(id, user_id, created_at) VALUES(?, ?, ?)")
            .bind(1, signIn.id).bind(2, userId).bind(3, now).run();
        connection.statement("INSERT INTO refresh_tokens(hash, sign_in_id, created_at) VALUES(?, ?, ?)")
            .bind(1, hashText(refreshTokenHash)).bind(2, signIn.id).bind(3, now).run();
        transaction.commit();
        return signIn;
    });
}

RefreshRotation SqliteServerStore::rotateRefreshToken(const QByteArray &presentedHash, const QByteArray &newHash, qint64 now)
{
    return guarded("rotateRefreshToken", [&] {
        SqliteDatabase &connection = db();
        SqliteTransaction transaction(connection);
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
        } else {
            connection.statement("UPDATE refresh_tokens SET used = 1 WHERE hash = ?").bind(1, hashText(presentedHash)).run();
            connection.statement("INSERT INTO refresh_tokens(hash, sign_in_id, created_at) VALUES(?, ?, ?)")
                .bind(1, hashText(newHash)).bind(2, rotation.signInId).bind(3, now).run();
            rotation.outcome = RefreshRotation::Outcome::Rotated;
        }
        transaction.commit();
        return rotation;
    });
}

void SqliteServerStore::revokeSignIn(const QString &signInId, qint64 now)
{
    guarded("revokeSignIn", [&] {
        db().statement("UPDATE sign_ins SET revoked = 1, revoked_at = ? WHERE id = ? AND revoked = 0")
            .bind(1, now).bind(2, signInId).run();
        return 0;
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

void SqliteServerStore::putOneTimeToken(const QByteArray &tokenHash, const QString &userId, qint64 expiresAt)
{
    guarded("putOneTimeToken", [&] {
        db().statement("INSERT OR REPLACE INTO one_time_tokens(hash, user_id, expires_at) VALUES(?, ?, ?)")
            .bind(1, hashText(tokenHash)).bind(2, userId).bind(3, expiresAt).run();
        return 0;
    });
}

std::optional<QString> SqliteServerStore::takeOneTimeToken(const QByteArray &tokenHash, qint64 now)
{
    return guarded("takeOneTimeToken", [&]() -> std::optional<QString> {
        SqliteStatement take =
            db().statement("DELETE FROM one_time_tokens WHERE hash = ? RETURNING user_id, expires_at");
        take.bind(1, hashText(tokenHash));
        if (!take.step())
            return std::nullopt;
        const QString userId = take.text(0);
        const bool live = take.int64(1) > now;
        while (take.step()) {
        }
        return live ? std::optional(userId) : std::nullopt;
    });
}

qint64 SqliteServerStore::countHit(const QString &key, qint64 windowStart, qint64 windowSeconds)
{
    return guarded("countHit", [&] {
        SqliteDatabase &connection = db();
        SqliteTransaction transaction(connection);
        // Windows that ended are of no use any more.
        connection.statement("DELETE FROM counters WHERE window_end <= ?").bind(1, windowStart).run();
        SqliteStatement hit = connection.statement(
            "INSERT INTO counters(key, window_start, window_end, hits) VALUES(?, ?, ?, 1) "
            "ON CONFLICT(key, window_start) DO UPDATE SET hits = hits + 1 RETURNING hits");
        hit.bind(1, key).bind(2, windowStart).bind(3, windowStart + windowSeconds);
        const qint64 hits = hit.step() ? hit.int64(0) : 1;
        while (hit.step()) {
        }
        transaction.commit();
        return hits;
    });
}

void SqliteServerStore::writeBackup(const QString &userId, const QString &ns, std::size_t size,
                                    const BackupSource &source, qint64 storedAt)
{
    const std::lock_guard oneAtATime(backupWrites);
    guarded("putBackup", [&] {
        // One transaction: the old document stays until the new one commits. The row gets a
        // zero blob of the right size (kept compact: it is the record's last column) that is then
        // filled in place piece by piece, so the document is never in memory whole.
        SqliteDatabase &connection = db();
        SqliteTransaction transaction(connection);
        connection.statement("INSERT INTO backups(user_id, namespace, stored_at, document) VALUES(?, ?, ?, zeroblob(?)) "
                             "ON CONFLICT(user_id, namespace) DO UPDATE SET stored_at = excluded.stored_at, "
                             "document = excluded.document")
            .bind(1, userId).bind(2, ns).bind(3, storedAt).bind(4, qint64(size)).run();
        qint64 rowId = 0;
        {
            SqliteStatement query = connection.statement("SELECT rowid FROM backups WHERE user_id = ? AND namespace = ?");
            query.bind(1, userId).bind(2, ns);
            if (!query.step())
                throw server::StoreError("SQLite putBackup: the new row is missing");
            rowId = query.int64(0);
        }
        sqlite3_blob *blob = nullptr;
        int rc = sqlite3_blob_open(connection.handle(), "main", "backups", "document", rowId, 1, &blob);
        if (rc != SQLITE_OK)
            throw ::StoreError::fromSqlite(connection.handle(), rc, QStringLiteral("blob open"));
        std::vector<char> piece(std::min(size, backupPiece));
        std::size_t offset = 0;
        try {
            while (rc == SQLITE_OK && offset < size) {
                const std::size_t length = source(offset, piece.data(), std::min(piece.size(), size - offset));
                if (length == 0)
                    break;
                rc = sqlite3_blob_write(blob, piece.data(), int(length), int(offset));
                offset += length;
            }
        } catch (...) {
            sqlite3_blob_close(blob);
            throw;
        }
        sqlite3_blob_close(blob);
        if (rc != SQLITE_OK)
            throw ::StoreError::fromSqlite(connection.handle(), rc, QStringLiteral("blob write"));
        if (offset != size)
            throw server::StoreError("SQLite putBackup: the document ended early");
        transaction.commit();
        return 0;
    });
}

std::optional<BackupInfo> SqliteServerStore::readBackup(const QString &userId, const QString &ns, const BackupSink &sink)
{
    return guarded("backup", [&]() -> std::optional<BackupInfo> {
        SqliteDatabase &connection = db();
        SqliteTransaction transaction(connection, SqliteTransaction::Mode::Deferred);
        qint64 rowId = 0;
        BackupInfo stored;
        {
            SqliteStatement query =
                connection.statement("SELECT rowid, stored_at FROM backups WHERE user_id = ? AND namespace = ?");
            query.bind(1, userId).bind(2, ns);
            if (!query.step())
                return std::nullopt;
            rowId = query.int64(0);
            stored.storedAt = query.int64(1);
        }
        sqlite3_blob *blob = nullptr;
        int rc = sqlite3_blob_open(connection.handle(), "main", "backups", "document", rowId, 0, &blob);
        if (rc != SQLITE_OK)
            throw ::StoreError::fromSqlite(connection.handle(), rc, QStringLiteral("blob open"));
        const int size = sqlite3_blob_bytes(blob);
        stored.sizeBytes = std::size_t(size);
        std::vector<char> piece(std::min(std::size_t(size), backupPiece));
        try {
            for (int offset = 0; rc == SQLITE_OK && offset < size; offset += int(piece.size())) {
                const int length = std::min(int(piece.size()), size - offset);
                rc = sqlite3_blob_read(blob, piece.data(), length, offset);
                if (rc == SQLITE_OK)
                    sink(std::size_t(offset), piece.data(), std::size_t(length));
            }
        } catch (...) {
            sqlite3_blob_close(blob);
            throw;
        }
        sqlite3_blob_close(blob);
        if (rc != SQLITE_OK)
            throw ::StoreError::fromSqlite(connection.handle(), rc, QStringLiteral("blob read"));
        transaction.commit();
        return stored;
    });
}

void SqliteServerStore::putCached(const QString &kind, const QString &key, const std::string &value, qint64 now,
                                  std::optional<qint64> expiresAt)
{
    guarded("putCached", [&] {
        db().statement("INSERT OR REPLACE INTO content_cache(kind, key, value, stored_at, expires_at) VALUES(?, ?, ?, ?, ?)")
            .bind(1, kind).bind(2, key).bindUtf8(3, QByteArrayView(value.data(), qsizetype(value.size())))
            .bind(4, now).bind(5, expiresAt).run();
        return 0;
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
    return guarded("tryClaim", [&] {
        db().statement("INSERT INTO claims(key, owner, expires_at) VALUES(?, ?, ?) ON CONFLICT(key) DO UPDATE SET "
                       "owner = excluded.owner, expires_at = excluded.expires_at "
                       "WHERE claims.owner = excluded.owner OR claims.expires_at <= ?")
            .bind(1, key).bind(2, owner).bind(3, expiresAt).bind(4, now).run();
        return db().changes() > 0;
    });
}

void SqliteServerStore::releaseClaim(const QString &key, const QString &owner)
{
    guarded("releaseClaim", [&] {
        db().statement("DELETE FROM claims WHERE key = ? AND owner = ?").bind(1, key).bind(2, owner).run();
        return 0;
    });
}

} // namespace server
