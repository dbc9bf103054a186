#pragma once

#include <QByteArray>

#include <algorithm>
#include <QString>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace server {

// Everything the server keeps lives behind this interface, so that any number of server
// processes on one database behave as one: accounts, sign-ins, abuse counters, backups,
// cached lyrics/cards/stories and the "one worker per key" claims. Two implementations:
// SQLite (one machine) and PostgreSQL (many). Every method is one transaction and is safe to
// call from any request thread at the same time (implementations keep a connection per thread
// or a pool). Times are seconds since 1970 (UTC), passed in by the caller so tests control them.
// Failures of the database itself throw StoreError.
class StoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct UserRecord
{
    QString id;            // opaque, letters/digits/'-' only (a UUID)
    QString email;         // trimmed and lower-cased: the account's identity
    QByteArray passwordHash; // argon2id string as crypto_pwhash_str writes it
    bool confirmed = false;
    qint64 createdAt = 0;
};

// One sign-in (a password grant and every refresh token rotated from it).
struct SignInRecord
{
    QString id;
    QString userId;
    bool revoked = false;
};

struct RefreshRotation
{
    enum class Outcome {
        Rotated, // the presented token was current: it is now used up, the new one is current
        Reused,  // the presented token was already rotated: the whole sign-in is now revoked
        Revoked, // the sign-in was revoked before (logout, reuse)
        Unknown, // no such token
    };
    Outcome outcome = Outcome::Unknown;
    QString signInId;
    QString userId;
};

struct StoredBackup
{
    std::string document; // the bytes exactly as uploaded
    qint64 storedAt = 0;
};

struct BackupInfo
{
    std::size_t sizeBytes = 0;
    qint64 storedAt = 0;
};

// A backup travels in pieces, never whole. A source fills `buffer` with up to `capacity` of the
// bytes from `offset` on and answers how many (0: no more); a sink takes `size` bytes that belong
// at `offset`. Both by offset: a transaction retried after a lost connection starts over.
using BackupSource = std::function<std::size_t(std::size_t offset, char *buffer, std::size_t capacity)>;
using BackupSink = std::function<void(std::size_t offset, const char *data, std::size_t size)>;

struct CachedEntry
{
    std::string value;
    qint64 storedAt = 0;
};

class ServerStore
{
public:
    virtual ~ServerStore() = default;

    // True when the database answers (GET /healthz).
    virtual bool ping() = 0;

    // Accounts. createUser answers nothing when the e-mail address is taken.
    virtual std::optional<UserRecord> createUser(const QString &email, const QByteArray &passwordHash,
                                                 bool confirmed, qint64 now) = 0;
    virtual std::optional<UserRecord> userByEmail(const QString &email) = 0;
    virtual std::optional<UserRecord> userById(const QString &userId) = 0;
    virtual void confirmUser(const QString &userId) = 0;

    // Sign-ins. Refresh tokens are stored only as hashes; each is single-use.
    virtual SignInRecord createSignIn(const QString &userId, const QByteArray &refreshTokenHash, qint64 now) = 0;
    virtual RefreshRotation rotateRefreshToken(const QByteArray &presentedHash, const QByteArray &newHash,
                                               qint64 now) = 0;
    virtual void revokeSignIn(const QString &signInId, qint64 now) = 0;
    virtual std::optional<SignInRecord> signIn(const QString &signInId) = 0;

    // Single-use tokens with an expiry (e-mail confirmation links), stored hashed.
    virtual void putOneTimeToken(const QByteArray &tokenHash, const QString &userId, qint64 expiresAt) = 0;
    // The user of a token that exists and has not expired; the token is used up either way.
    virtual std::optional<QString> takeOneTimeToken(const QByteArray &tokenHash, qint64 now) = 0;

    // Fixed-window counters for abuse limits and quotas: adds one to `key` in the window that
    // starts at `windowStart` and answers the count after adding. Old windows may be dropped.
    virtual qint64 countHit(const QString &key, qint64 windowStart, qint64 windowSeconds) = 0;

    // Backups: one document per user and namespace, replaced atomically (the previous one stays
    // byte-identical until the new one is committed). writeBackup stores the `size` bytes that
    // `source` gives (StoreError, and nothing replaced, when it gives fewer); readBackup hands the
    // document to `sink` in pieces, all from one snapshot, and answers its size and time, or
    // nothing when there is none. Neither holds the whole document in memory.
    virtual void writeBackup(const QString &userId, const QString &ns, std::size_t size, const BackupSource &source,
                             qint64 storedAt) = 0;
    virtual std::optional<BackupInfo> readBackup(const QString &userId, const QString &ns, const BackupSink &sink) = 0;

    // The same for a document in memory.
    void putBackup(const QString &userId, const QString &ns, const std::string &document, qint64 storedAt)
    {
        writeBackup(userId, ns, document.size(), [&document](std::size_t offset, char *buffer, std::size_t capacity) {
            const std::size_t piece = offset < document.size() ? std::min(capacity, document.size() - offset) : 0;
            std::copy_n(document.data() + offset, piece, buffer);
            return piece;
        }, storedAt);
    }
    std::optional<StoredBackup> backup(const QString &userId, const QString &ns)
    {
        StoredBackup stored;
        const std::optional<BackupInfo> info =
            readBackup(userId, ns, [&stored](std::size_t offset, const char *data, std::size_t size) {
                stored.document.resize(offset);
                stored.document.append(data, size);
            });
        if (!info)
            return std::nullopt;
        stored.storedAt = info->storedAt;
        return stored;
    }

    // Cache of looked-up or generated content, by kind ("track", "track-miss", "cards", "story")
    // and key. An entry past its expiry (when it has one) is absent.
    virtual void putCached(const QString &kind, const QString &key, const std::string &value, qint64 now,
                           std::optional<qint64> expiresAt) = 0;
    virtual std::optional<CachedEntry> cached(const QString &kind, const QString &key, qint64 now) = 0;

    // Claims: at most one holder per key across every process. tryClaim succeeds when the key
    // is free, already held by `owner`, or its previous claim expired.
    virtual bool tryClaim(const QString &key, const QString &owner, qint64 now, qint64 expiresAt) = 0;
    virtual void releaseClaim(const QString &key, const QString &owner) = 0;
};

} // namespace server
