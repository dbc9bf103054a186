#include "server/store/postgres/PostgresStore.h"

#include "server/store/postgres/PgBackups.h"
#include "server/store/postgres/PgConnectionUrl.h"
#include "server/store/postgres/PgPool.h"
#include "server/store/postgres/PgSchema.h"
#include "server/store/postgres/PgValues.h"

#include <pqxx/nontransaction>
#include <pqxx/result>
#include <pqxx/transaction>

#include <QUuid>

namespace server {

namespace {

using namespace pg;

// Connections one process opens at most; request threads beyond that wait for one to come back.
// Sized so that several processes stay well under PostgreSQL's default of 100 connections.
constexpr int kMaxConnections = 16;
// Of those, backup transfers (which hold theirs while a document goes in or out) take at most these.
constexpr int kMaxTransferConnections = 4;

UserRecord userFrom(const pqxx::row &row)
{
    UserRecord user;
    user.id = qstr(row["id"]);
    user.email = qstr(row["email"]);
    user.passwordHash = qBytes(row["password_hash"]);
    user.confirmed = row["confirmed"].as<bool>();
    user.createdAt = row["created_at"].as<long long>();
    return user;
}

constexpr const char *kUserColumns = "id, email, password_hash, confirmed, created_at";

class PostgresStore final : public ServerStore
{
public:
    explicit PostgresStore(const QString &url)
        : m_pool(withConnectTimeout(url), passwordIn(url), redactedDatabaseUrl(url), kMaxConnections,
                 kMaxTransferConnections)
        , m_backups(m_pool)
    {
        m_pool.run([](pqxx::connection &connection) { pg::migrate(connection); });
    }

    bool ping() override
    {
        try {
            return m_pool.run([](pqxx::connection &connection) {
                pqxx::nontransaction tx(connection);
                return tx.exec1("SELECT 1")[0].as<int>() == 1;
            });
        } catch (const StoreError &) {
            return false;
        }
    }

    std::optional<UserRecord> createUser(const QString &email, const QByteArray &passwordHash, bool confirmed,
                                         qint64 now) override
    {
        const auto id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        // A taken address (also one being registered right now by another transaction, which
        // this statement waits for) inserts nothing.
        const auto result = execute(std::string("INSERT INTO users (") + kUserColumns
                                        + ") VALUES ($1, $2, $3, $4, $5) ON CONFLICT (email) DO NOTHING RETURNING "
                                        + kUserColumns,
                                    str(id), str(email), bytes(passwordHash), confirmed, static_cast<long long>(now));
        if (result.empty())
            return std::nullopt;
        return userFrom(result[0]);
    }

    std::optional<UserRecord> userByEmail(const QString &email) override
    {
        return userWhere("email", str(email));
    }

    std::optional<UserRecord> userById(const QString &userId) override
    {
        return userWhere("id", str(userId));
    }

    SignUpOutcome signUp(const std::vector<RateHit> &hits, const SignUpRequest &request) override
    {
        return m_pool.run([&](pqxx::connection &connection) {
            pqxx::work tx(connection);
            SignUpOutcome result;
            if (!addHits(tx, hits)) {
                tx.commit();
                result.outcome = SignUpOutcome::Outcome::Limited;
                return result;
            }
            const auto id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            const bool confirmed = !request.linkHash;
            // A concurrent sign-up for the same address waits here for the other's commit.
            auto inserted = tx.exec_params(std::string("INSERT INTO users (") + kUserColumns
                                               + ") VALUES ($1, $2, $3, $4, $5) ON CONFLICT (email) DO NOTHING RETURNING "
                                               + kUserColumns,
                                           str(id), str(request.email), bytes(request.passwordHash), confirmed,
                                           static_cast<long long>(request.now));
            if (!inserted.empty()) {
                result.user = userFrom(inserted[0]);
                result.outcome = SignUpOutcome::Outcome::Created;
                if (request.refreshTokenHash && confirmed)
                    result.signIn = insertSignIn(tx, result.user.id, *request.refreshTokenHash, request.now);
            } else {
                const auto existing = tx.exec_params(std::string("SELECT ") + kUserColumns
                                                         + " FROM users WHERE email = $1 FOR UPDATE",
                                                     str(request.email));
                if (existing.empty() || existing[0]["confirmed"].as<bool>() || !request.linkHash) {
                    tx.commit();
                    result.outcome = SignUpOutcome::Outcome::Taken;
                    return result;
                }
                result.user = userFrom(existing[0]);
                result.user.passwordHash = request.passwordHash;
                // Follows the latest sign-up; signs nobody in while unconfirmed.
                tx.exec_params("UPDATE users SET password_hash = $2 WHERE id = $1", str(result.user.id),
                               bytes(request.passwordHash));
                result.outcome = SignUpOutcome::Outcome::Pending;
            }
            if (request.linkHash) {
                tx.exec_params("INSERT INTO one_time_tokens (token_hash, user_id, expires_at, password_hash)"
                               " VALUES ($1, $2, $3, $4)",
                               bytes(*request.linkHash), str(result.user.id),
                               static_cast<long long>(request.linkExpiresAt), bytes(request.passwordHash));
            }
            tx.commit();
            return result;
        });
    }

    std::optional<PendingSignUps> pendingSignUps(const QByteArray &linkHash, qint64 now, int limit) override
    {
        return m_pool.run([&](pqxx::connection &connection) -> std::optional<PendingSignUps> {
            pqxx::read_transaction tx(connection);
            const std::optional<UserRecord> user = pendingUserOfLink(tx, linkHash, now);
            if (!user)
                return std::nullopt;
            PendingSignUps pending{*user, {}};
            // A link made before links carried a password stands for the account's own.
            const auto hashes = tx.exec_params(
                "SELECT coalesce(t.password_hash, u.password_hash) AS pending FROM one_time_tokens t"
                " JOIN users u ON u.id = t.user_id WHERE t.user_id = $1 AND t.expires_at > $2"
                " GROUP BY pending ORDER BY max(t.seq) DESC LIMIT $3",
                str(user->id), static_cast<long long>(now), limit);
            for (const auto &row : hashes)
                pending.passwordHashes.push_back(qBytes(row[0]));
            return pending;
        });
    }

    Confirmation confirmSignUp(const std::vector<RateHit> &hits, const QByteArray &linkHash,
                               const QByteArray &passwordHash, qint64 now) override
    {
        return m_pool.run([&](pqxx::connection &connection) {
            pqxx::work tx(connection);
            Confirmation result;
            if (!addHits(tx, hits)) {
                tx.commit();
                result.outcome = Confirmation::Outcome::Limited;
                return result;
            }
            // The account's row is locked: of two confirmations at once, the second finds it confirmed.
            const std::optional<UserRecord> user =
                passwordHash.isEmpty() ? std::nullopt : pendingUserOfLink(tx, linkHash, now, " FOR UPDATE OF u");
            const bool stillPending = user
                && !tx.exec_params("SELECT 1 FROM one_time_tokens t JOIN users u ON u.id = t.user_id WHERE t.user_id = $1"
                                   " AND t.expires_at > $2 AND coalesce(t.password_hash, u.password_hash) = $3 LIMIT 1",
                                   str(user->id), static_cast<long long>(now), bytes(passwordHash))
                        .empty();
            const auto confirmed = stillPending
                ? tx.exec_params(std::string("UPDATE users SET confirmed = true, password_hash = $2 WHERE id = $1"
                                             " AND NOT confirmed RETURNING ")
                                     + kUserColumns,
                                 str(user->id), bytes(passwordHash))
                : pqxx::result();
            if (!confirmed.empty()) {
                // No other pending sign-up's password can be activated any more.
                tx.exec_params("DELETE FROM one_time_tokens WHERE user_id = $1", str(user->id));
                result.outcome = Confirmation::Outcome::Confirmed;
                result.user = userFrom(confirmed[0]);
            }
            tx.commit();
            return result;
        });
    }

    bool addLinkForLatestSignUp(const QString &userId, const QByteArray &linkHash, qint64 expiresAt) override
    {
        return !execute("INSERT INTO one_time_tokens (token_hash, user_id, expires_at, password_hash)"
                        " SELECT $1, t.user_id, $2, t.password_hash FROM one_time_tokens t JOIN users u ON u.id = t.user_id"
                        " WHERE t.user_id = $3 AND NOT u.confirmed ORDER BY t.seq DESC LIMIT 1 RETURNING user_id",
                        bytes(linkHash), static_cast<long long>(expiresAt), str(userId))
                    .empty();
    }

    SignInRecord createSignIn(const QString &userId, const QByteArray &refreshTokenHash, qint64 now) override
    {
        return m_pool.run([&](pqxx::connection &connection) {
            pqxx::work tx(connection);
            SignInRecord record = insertSignIn(tx, userId, refreshTokenHash, now);
            tx.commit();
            return record;
        });
    }

    bool countHits(const std::vector<RateHit> &hits) override
    {
        return m_pool.run([&](pqxx::connection &connection) {
            pqxx::work tx(connection);
            const bool within = addHits(tx, hits);
            tx.commit();
            return within;
        });
    }

    RefreshRotation rotateRefreshToken(const QByteArray &presentedHash, const QByteArray &newHash,
                                       qint64 now, const RateHit &perSignIn) override
    {
        return m_pool.run([&](pqxx::connection &connection) {
            pqxx::work tx(connection);
            // Locks the token and its sign-in: a second rotation of the same token waits here
            // and then reads the first one's outcome (the token used up), so exactly one of
            // them rotates and the other is a reuse.
            const auto found = tx.exec_params(
                "SELECT t.sign_in_id, t.used_at IS NOT NULL, s.user_id, s.revoked_at IS NOT NULL"
                " FROM refresh_tokens t JOIN sign_ins s ON s.id = t.sign_in_id"
                " WHERE t.token_hash = $1 FOR UPDATE",
                bytes(presentedHash));
            RefreshRotation rotation;
            if (found.empty())
                return rotation;
            rotation.signInId = qstr(found[0][0]);
            rotation.userId = qstr(found[0][2]);
            const bool used = found[0][1].as<bool>();
            const bool revoked = found[0][3].as<bool>();
            if (revoked) {
                rotation.outcome = RefreshRotation::Outcome::Revoked;
            } else if (used) {
                tx.exec_params("UPDATE sign_ins SET revoked_at = $2 WHERE id = $1", str(rotation.signInId),
                               static_cast<long long>(now));
                rotation.outcome = RefreshRotation::Outcome::Reused;
            } else if (perSignIn.limit > 0
                       && !addHits(tx, {RateHit{perSignIn.key + rotation.signInId, perSignIn.windowStart,
                                                perSignIn.windowSeconds, perSignIn.limit}})) {
                rotation.outcome = RefreshRotation::Outcome::Limited;
            } else {
                tx.exec_params("UPDATE refresh_tokens SET used_at = $2 WHERE token_hash = $1", bytes(presentedHash),
                               static_cast<long long>(now));
                tx.exec_params(
                    "INSERT INTO refresh_tokens (token_hash, sign_in_id, created_at) VALUES ($1, $2, $3)",
                    bytes(newHash), str(rotation.signInId), static_cast<long long>(now));
                rotation.outcome = RefreshRotation::Outcome::Rotated;
            }
            tx.commit();
            return rotation;
        });
    }

    void revokeSignIn(const QString &signInId, qint64 now) override
    {
        execute("UPDATE sign_ins SET revoked_at = $2 WHERE id = $1 AND revoked_at IS NULL", str(signInId),
                static_cast<long long>(now));
    }

    std::optional<SignInRecord> signIn(const QString &signInId) override
    {
        return m_pool.run([&](pqxx::connection &connection) -> std::optional<SignInRecord> {
            pqxx::read_transaction tx(connection);
            const auto result = tx.exec_params(
                "SELECT id, user_id, revoked_at IS NOT NULL FROM sign_ins WHERE id = $1", str(signInId));
            if (result.empty())
                return std::nullopt;
            return SignInRecord{qstr(result[0][0]), qstr(result[0][1]), result[0][2].as<bool>()};
        });
    }

    qint64 countHit(const QString &key, qint64 windowStart, qint64 windowSeconds) override
    {
        return m_pool.run([&](pqxx::connection &connection) {
            pqxx::work tx(connection);
            tx.exec_params("DELETE FROM counters WHERE key = $1 AND expires_at <= $2", str(key),
                           static_cast<long long>(windowStart));
            const auto row = tx.exec_params1(
                "INSERT INTO counters (key, window_start, expires_at, hits) VALUES ($1, $2, $3, 1)"
                " ON CONFLICT (key, window_start) DO UPDATE SET hits = counters.hits + 1 RETURNING hits",
                str(key), static_cast<long long>(windowStart), static_cast<long long>(windowStart + windowSeconds));
            tx.commit();
            return static_cast<qint64>(row[0].as<long long>());
        });
    }

    qint64 hits(const QString &key, qint64 windowStart) override
    {
        return m_pool.run([&](pqxx::connection &connection) {
            pqxx::read_transaction tx(connection);
            const auto row = tx.exec_params("SELECT hits FROM counters WHERE key = $1 AND window_start = $2", str(key),
                                            static_cast<long long>(windowStart));
            return row.empty() ? qint64(0) : static_cast<qint64>(row[0][0].as<long long>());
        });
    }

    bool writeBackup(const QString &userId, const QString &ns, std::size_t size, const BackupSource &source,
                     qint64 storedAt, std::size_t accountQuota) override
    {
        return m_backups.writeBackup(userId, ns, size, source, storedAt, accountQuota);
    }

    std::optional<OpenedBackup> openBackup(const QString &userId, const QString &ns) override
    {
        return m_backups.openBackup(userId, ns);
    }

    std::optional<BackupInfo> readBackup(const QString &userId, const QString &ns, const BackupSink &sink) override
    {
        return m_backups.readBackup(userId, ns, sink);
    }

    qint64 backupBytes(const QString &userId, const QString &except) override
    {
        return m_backups.backupBytes(userId, except);
    }

    void putCached(const QString &kind, const QString &key, const std::string &value, qint64 now,
                   std::optional<qint64> expiresAt) override
    {
        // A null const char * is how libpqxx passes SQL NULL.
        const std::string expiry = expiresAt ? std::to_string(*expiresAt) : std::string();
        execute("INSERT INTO content_cache (kind, key, value, stored_at, expires_at)"
                " VALUES ($1, $2, $3, $4, $5::bigint) ON CONFLICT (kind, key) DO UPDATE SET"
                " value = EXCLUDED.value, stored_at = EXCLUDED.stored_at, expires_at = EXCLUDED.expires_at",
                str(kind), str(key), bytes(value.data(), value.size()), static_cast<long long>(now),
                expiresAt ? expiry.c_str() : static_cast<const char *>(nullptr));
    }

    std::optional<CachedEntry> cached(const QString &kind, const QString &key, qint64 now) override
    {
        return m_pool.run([&](pqxx::connection &connection) -> std::optional<CachedEntry> {
            pqxx::read_transaction tx(connection);
            const auto result = tx.exec_params("SELECT value, stored_at FROM content_cache WHERE kind = $1"
                                               " AND key = $2 AND (expires_at IS NULL OR expires_at > $3)",
                                               str(kind), str(key), static_cast<long long>(now));
            if (result.empty())
                return std::nullopt;
            return CachedEntry{stdBytes(result[0][0]), result[0][1].as<long long>()};
        });
    }

    bool tryClaim(const QString &key, const QString &owner, qint64 now, qint64 expiresAt) override
    {
        // One statement: a concurrent claim of the same key waits for this one and then sees it held.
        return !execute("INSERT INTO claims (key, owner, expires_at) VALUES ($1, $2, $4)"
                        " ON CONFLICT (key) DO UPDATE SET owner = EXCLUDED.owner, expires_at = EXCLUDED.expires_at"
                        " WHERE claims.owner = EXCLUDED.owner OR claims.expires_at <= $3 RETURNING owner",
                        str(key), str(owner), static_cast<long long>(now), static_cast<long long>(expiresAt))
                    .empty();
    }

    void releaseClaim(const QString &key, const QString &owner) override
    {
        execute("DELETE FROM claims WHERE key = $1 AND owner = $2", str(key), str(owner));
    }

    PruneReport prune(qint64 now, const PruneAges &ages) override
    {
        // Each statement in a transaction of its own: no long lock, and another process pruning
        // at the same moment deletes what this one has not (or nothing).
        PruneReport report;
        report.signIns = affected("DELETE FROM sign_ins WHERE revoked_at < $1", now - ages.revokedSignIn)
            + affected("DELETE FROM sign_ins s WHERE NOT EXISTS (SELECT 1 FROM refresh_tokens r"
                       " WHERE r.sign_in_id = s.id AND r.created_at >= $1)",
                       now - ages.idleSignIn);
        report.refreshTokens =
            affected("DELETE FROM refresh_tokens WHERE used_at IS NOT NULL AND created_at < $1", now - ages.usedRefreshToken);
        report.counters = affected("DELETE FROM counters WHERE expires_at <= $1", now);
        report.other = affected("DELETE FROM one_time_tokens WHERE expires_at <= $1", now)
            + affected("DELETE FROM claims WHERE expires_at <= $1", now)
            + affected("DELETE FROM content_cache WHERE expires_at <= $1", now);
        return report;
    }

    qint64 refreshTokenRows() override
    {
        return m_pool.run([](pqxx::connection &connection) {
            pqxx::read_transaction tx(connection);
            return static_cast<qint64>(tx.exec1("SELECT count(*) FROM refresh_tokens")[0].as<long long>());
        });
    }

private:
    // Adds one to each counter; true when none is then over its limit.
    static bool addHits(pqxx::work &tx, const std::vector<RateHit> &hits)
    {
        bool within = true;
        for (const RateHit &hit : hits) {
            const auto row = tx.exec_params1(
                "INSERT INTO counters (key, window_start, expires_at, hits) VALUES ($1, $2, $3, 1)"
                " ON CONFLICT (key, window_start) DO UPDATE SET hits = counters.hits + 1 RETURNING hits",
                str(hit.key), static_cast<long long>(hit.windowStart),
                static_cast<long long>(hit.windowStart + hit.windowSeconds));
            within = within && row[0].as<long long>() <= hit.limit;
        }
        return within;
    }

    // The account that waits for its confirmation, when `linkHash` is one of its live links.
    static std::optional<UserRecord> pendingUserOfLink(pqxx::transaction_base &tx, const QByteArray &linkHash, qint64 now,
                                                       const char *lock = "")
    {
        const auto row = tx.exec_params(std::string("SELECT u.id, u.email, u.password_hash, u.confirmed, u.created_at"
                                                    " FROM one_time_tokens t JOIN users u ON u.id = t.user_id"
                                                    " WHERE t.token_hash = $1 AND t.expires_at > $2 AND NOT u.confirmed")
                                            + lock,
                                        bytes(linkHash), static_cast<long long>(now));
        if (row.empty())
            return std::nullopt;
        return userFrom(row[0]);
    }

    static SignInRecord insertSignIn(pqxx::work &tx, const QString &userId, const QByteArray &refreshTokenHash, qint64 now)
    {
        SignInRecord record{QUuid::createUuid().toString(QUuid::WithoutBraces), userId, false};
        tx.exec_params("INSERT INTO sign_ins (id, user_id, created_at) VALUES ($1, $2, $3)", str(record.id), str(userId),
                       static_cast<long long>(now));
        tx.exec_params("INSERT INTO refresh_tokens (token_hash, sign_in_id, created_at) VALUES ($1, $2, $3)",
                       bytes(refreshTokenHash), str(record.id), static_cast<long long>(now));
        return record;
    }

    qint64 affected(const char *sql, qint64 time)
    {
        return m_pool.run([&](pqxx::connection &connection) {
            pqxx::work tx(connection);
            const auto result = tx.exec_params(sql, static_cast<long long>(time));
            tx.commit();
            return static_cast<qint64>(result.affected_rows());
        });
    }

    // One statement in a transaction of its own; its rows, if it returns any.
    template<typename... Args>
    pqxx::result execute(const std::string &sql, const Args &...args)
    {
        return m_pool.run([&](pqxx::connection &connection) {
            pqxx::work tx(connection);
            auto result = tx.exec_params(sql, args...);
            tx.commit();
            return result;
        });
    }

    std::optional<UserRecord> userWhere(const char *column, const std::string &value)
    {
        return m_pool.run([&](pqxx::connection &connection) -> std::optional<UserRecord> {
            pqxx::read_transaction tx(connection);
            const auto result = tx.exec_params(std::string("SELECT ") + kUserColumns + " FROM users WHERE " + column
                                                   + " = $1",
                                               value);
            if (result.empty())
                return std::nullopt;
            return userFrom(result[0]);
        });
    }

    pg::Pool m_pool;
    pg::Backups m_backups;
};

} // namespace

std::unique_ptr<ServerStore> openPostgresStore(const QString &url)
{
    return std::make_unique<PostgresStore>(url);
}

} // namespace server
