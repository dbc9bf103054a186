#pragma once

// The values ServerStore takes and answers.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace server {

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

} // namespace server
