#pragma once

#include <QByteArray>

#include <algorithm>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

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

// The database is too busy to take a write now (the process's write queue is full, or the write
// could not start in time): nothing was written, and the same request may succeed a little later.
// Answered 503 with Retry-After, never 500.
class StoreBusyError : public StoreError
{
public:
    StoreBusyError(const std::string &what, int retryAfterSeconds)
        : StoreError(what), m_retryAfterSeconds(retryAfterSeconds)
    {
    }
    int retryAfterSeconds() const { return m_retryAfterSeconds; }

private:
    int m_retryAfterSeconds;
};

// The disk under the store has no room for what was being written: nothing was written (the
// previous state stands), and the answer says it does not fit rather than that the server failed.
class StoreFullError : public StoreError
{
public:
    using StoreError::StoreError;
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

// One fixed-window abuse counter to add a hit to: `key` in the window [windowStart,
// windowStart + windowSeconds). The hit is over its limit when the count after adding exceeds `limit`.
struct RateHit
{
    QString key;
    qint64 windowStart = 0;
    qint64 windowSeconds = 60;
    qint64 limit = 0;
};

struct RefreshRotation
{
    enum class Outcome {
        Rotated, // the presented token was current: it is now used up, the new one is current
        Reused,  // the presented token was already rotated: the whole sign-in is now revoked
        Revoked, // the sign-in was revoked before (logout, reuse)
        Unknown, // no such token
        Limited, // the sign-in refreshed too often in this window: nothing changed, the token stays current
    };
    Outcome outcome = Outcome::Unknown;
    QString signInId;
    QString userId;
};

// A sign-up with its password hash made beforehand (hashing never runs inside a transaction).
struct SignUpRequest
{
    QString email;
    QByteArray passwordHash;
    qint64 now = 0;
    // With a link, the sign-up waits for it: the link's token hash (stored hashed) and expiry.
    // The sign-up stays pending (its password one that confirmSignUp may activate) as long as
    // a link that carries its password lives.
    std::optional<QByteArray> linkHash;
    qint64 linkExpiresAt = 0;
    // Without a link: the sign-in the new account starts with (its first refresh token's hash).
    std::optional<QByteArray> refreshTokenHash;
};

struct SignUpOutcome
{
    enum class Outcome {
        Created, // a new account, confirmed (no link) or waiting for its link
        Pending, // the address waits for a confirmation: one more pending sign-up with its own link
        Taken,   // the address belongs to a confirmed account (or waits while no link was given)
        Limited, // a counter went over its limit: nothing was created
    };
    Outcome outcome = Outcome::Taken;
    UserRecord user; // Created and Pending
    std::optional<SignInRecord> signIn; // Created with a refresh token hash
};

// The sign-ups of an account that waits for its confirmation, as one of its live links finds them.
struct PendingSignUps
{
    UserRecord user;
    std::vector<QByteArray> passwordHashes; // one per pending sign-up, the newest first
};

struct Confirmation
{
    enum class Outcome {
        Confirmed, // the account now has the given password, and no link of it works any more
        Refused,   // no password given, or the link or that password's sign-up is no longer pending
        Limited,   // a counter went over its limit: nothing but the hits was written
    };
    Outcome outcome = Outcome::Refused;
    UserRecord user; // Confirmed
};

// What one pruning pass deleted.
struct PruneReport
{
    qint64 refreshTokens = 0; // used tokens of rotated chains (and those of deleted sign-ins)
    qint64 signIns = 0;       // revoked or idle sign-ins
    qint64 counters = 0;      // ended rate-limit windows
    qint64 other = 0;         // expired links, claims and cache entries
};

// How long pruned things are kept (seconds).
struct PruneAges
{
    qint64 usedRefreshToken = 24 * 3600; // a reused token is still recognised (and revokes) for this long
    qint64 revokedSignIn = 24 * 3600;
    qint64 idleSignIn = 90 * 24 * 3600;  // a sign-in not refreshed for this long is over
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
    std::string version; // differs between any two documents stored under one user and namespace
};

// A stored document open for reading at any offset: its bytes stay those of the version opened,
// whatever is written meanwhile, for as long as the object lives. Safe to share between threads.
class BackupBytes
{
public:
    virtual ~BackupBytes() = default;
    // Up to `capacity` bytes from `offset`; 0 at the end (or on a failure to read).
    virtual std::size_t readAt(std::size_t offset, char *buffer, std::size_t capacity) const = 0;
};

struct OpenedBackup
{
    BackupInfo info;
    // Null when the engine cannot lend the document without a copy: read it with readBackup.
    std::shared_ptr<const BackupBytes> bytes;
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

    // A sign-up in one write: adds the hits (nothing else happens when one is over its limit),
    // then creates the account or, for an address still waiting for its confirmation, adds a
    // pending sign-up with its own link and password.
    virtual SignUpOutcome signUp(const std::vector<RateHit> &hits, const SignUpRequest &request) = 0;
    // A read, for a link (stored hashed, live until its expiry) of an account still waiting: the
    // account and the password hashes of its pending sign-ups (at most `limit`, the newest),
    // whichever sign-up sent the link. Nothing for an unknown, expired or used-up link.
    virtual std::optional<PendingSignUps> pendingSignUps(const QByteArray &linkHash, qint64 now, int limit) = 0;
    // A confirmation in one write: adds the hits (nothing else happens when one is over its
    // limit); then, when the link is still live and `passwordHash` is still a pending sign-up's
    // of its account (the caller found it by the password, before the write), confirms the
    // account with that password and uses up every link of the account, so that no other
    // pending sign-up can be activated. An empty hash (a wrong password) only counts the hits.
    // The link alone activates nothing, and a refused attempt leaves it live.
    virtual Confirmation confirmSignUp(const std::vector<RateHit> &hits, const QByteArray &linkHash,
                                       const QByteArray &passwordHash, qint64 now) = 0;
    // A new link for the account's latest pending sign-up (its password), for a resend.
    // Nothing when the account has no pending sign-up (confirmed, or unknown).
    virtual bool addLinkForLatestSignUp(const QString &userId, const QByteArray &linkHash, qint64 expiresAt) = 0;

    // Sign-ins. Refresh tokens are stored only as hashes; each is single-use.
    virtual SignInRecord createSignIn(const QString &userId, const QByteArray &refreshTokenHash, qint64 now) = 0;
    // Adds the hits and, when none is over its limit and a user is given, creates the sign-in:
    // one write for a password grant, whether the password was right or not. Nothing when a hit
    // is over its limit (or no user was given).
    virtual std::optional<SignInRecord> countSignIn(const std::vector<RateHit> &hits, const QString &userId,
                                                    const QByteArray &refreshTokenHash, qint64 now) = 0;
    // `perSignIn` (when its limit is above 0) is the sign-in's refresh counter; its key is made
    // from the sign-in. Over the limit: Limited, nothing changed.
    virtual RefreshRotation rotateRefreshToken(const QByteArray &presentedHash, const QByteArray &newHash,
                                               qint64 now, const RateHit &perSignIn = {}) = 0;
    virtual void revokeSignIn(const QString &signInId, qint64 now) = 0;
    virtual std::optional<SignInRecord> signIn(const QString &signInId) = 0;

    // Fixed-window counters for abuse limits and quotas: adds one to `key` in the window that
    // starts at `windowStart` and answers the count after adding. Old windows may be dropped.
    virtual qint64 countHit(const QString &key, qint64 windowStart, qint64 windowSeconds) = 0;
    // The count of `key` in the window that starts at `windowStart`, without adding (a read).
    virtual qint64 hits(const QString &key, qint64 windowStart) = 0;

    // Backups: one document per user and namespace, replaced atomically (the previous one stays
    // byte-identical until the new one is committed). writeBackup stores the `size` bytes that
    // `source` gives (StoreError, and nothing replaced, when it gives fewer) unless the account's
    // backups, this one counted instead of the one it replaces, would pass `accountQuota`: then it
    // answers false and stores nothing. The check and the write are one step: two uploads to two
    // namespaces of one account never both pass a quota that has room for one. One document does
    // not hold the database's writers up for as long as it takes to store it. readBackup hands the
    // document to `sink` in pieces, all from one snapshot, and answers its size, time and version,
    // or nothing when there is none; openBackup answers the same without reading the bytes, and
    // lends them when the engine keeps them where they can be read without a copy. None holds the
    // whole document in memory. StoreFullError when the disk has no room for a new document.
    virtual bool writeBackup(const QString &userId, const QString &ns, std::size_t size, const BackupSource &source,
                             qint64 storedAt, std::size_t accountQuota) = 0;
    virtual std::optional<BackupInfo> readBackup(const QString &userId, const QString &ns, const BackupSink &sink) = 0;
    virtual std::optional<OpenedBackup> openBackup(const QString &userId, const QString &ns) = 0;

    // The same for a document in memory.
    bool putBackup(const QString &userId, const QString &ns, const std::string &document, qint64 storedAt,
                   std::size_t accountQuota = std::size_t(-1))
    {
        return writeBackup(userId, ns, document.size(), [&document](std::size_t offset, char *buffer, std::size_t capacity) {
            const std::size_t piece = offset < document.size() ? std::min(capacity, document.size() - offset) : 0;
            std::copy_n(document.data() + offset, piece, buffer);
            return piece;
        }, storedAt, accountQuota);
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
    // The bytes of the user's stored backups, all namespaces but `except` (for the account quota).
    virtual qint64 backupBytes(const QString &userId, const QString &except) = 0;

    // Cache of looked-up or generated content, by kind ("track", "track-miss", "cards", "story")
    // and key. An entry past its expiry (when it has one) is absent.
    virtual void putCached(const QString &kind, const QString &key, const std::string &value, qint64 now,
                           std::optional<qint64> expiresAt) = 0;
    virtual std::optional<CachedEntry> cached(const QString &kind, const QString &key, qint64 now) = 0;

    // Claims: at most one holder per key across every process. tryClaim succeeds when the key
    // is free, already held by `owner`, or its previous claim expired.
    virtual bool tryClaim(const QString &key, const QString &owner, qint64 now, qint64 expiresAt) = 0;
    virtual void releaseClaim(const QString &key, const QString &owner) = 0;

    // Deletes what no request needs any more: used refresh tokens older than the ages, revoked
    // and idle sign-ins, ended counter windows, expired links, claims and cache entries, and the
    // bytes of backup documents that no backup points at (left by a process that died). Any
    // number of processes may prune at once; each statement is idempotent.
    virtual PruneReport prune(qint64 now, const PruneAges &ages = {}) = 0;
    // Rows of the refresh-token table (for the operator's figures and tests).
    virtual qint64 refreshTokenRows() = 0;
};

} // namespace server
