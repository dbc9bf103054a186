#pragma once

#include "server/store/StoreErrors.h"
#include "server/store/StoreRecords.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <optional>
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
    // `perSignIn` (when its limit is above 0) is the sign-in's refresh counter; its key is made
    // from the sign-in. Over the limit: Limited, nothing changed.
    virtual RefreshRotation rotateRefreshToken(const QByteArray &presentedHash, const QByteArray &newHash,
                                               qint64 now, const RateHit &perSignIn = {}) = 0;
    virtual void revokeSignIn(const QString &signInId, qint64 now) = 0;
    virtual std::optional<SignInRecord> signIn(const QString &signInId) = 0;

    // Fixed-window counters for abuse limits and quotas: adds one to `key` in the window that
    // starts at `windowStart` and answers the count after adding. Old windows may be dropped.
    virtual qint64 countHit(const QString &key, qint64 windowStart, qint64 windowSeconds) = 0;
    // Adds one to each hit's counter in one write and answers true when none is then over its
    // limit. A limit that guards work (a password hash) counts the attempt with this before the
    // work: requests that arrive together are each counted before any of them reads a count, so
    // no more of them pass than the limit has room for, on any number of processes.
    virtual bool countHits(const std::vector<RateHit> &hits) = 0;
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
