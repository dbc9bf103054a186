#pragma once

#include "server/store/ServerStore.h"
#include "server/store/sqlite/WriteQueue.h"

#include <QString>

#include <atomic>
#include <memory>

class SqliteDatabase;

namespace server {

class BackupFiles;

// How the process's writers line up (see WriteQueue).
struct SqliteWriteOptions
{
    std::size_t queueCapacity = 256;
    std::chrono::milliseconds maxWait{10000};
};

// The embedded store: one SQLite file in write-ahead-log mode, one connection per request
// thread (opened on the thread's first call), every method one IMMEDIATE transaction where it
// writes. The writers of this process take turns in one WriteQueue before they begin, so the
// file's write lock goes to them in arrival order; nothing slow (password hashing, network
// calls) runs inside a write. Several processes may share the file; SQLite's locks keep them
// consistent, and a write that cannot get the lock in time (SQLITE_BUSY) is a StoreBusyError.
// Backup documents are files of a folder beside the database (see BackupFiles).
class SqliteServerStore final : public ServerStore
{
public:
    // Opens (creating when missing) the file and its tables. Throws StoreError.
    explicit SqliteServerStore(QString path, SqliteWriteOptions writes = {});
    ~SqliteServerStore() override;

    bool ping() override;
    std::optional<UserRecord> createUser(const QString &email, const QByteArray &passwordHash, bool confirmed,
                                         qint64 now) override;
    std::optional<UserRecord> userByEmail(const QString &email) override;
    std::optional<UserRecord> userById(const QString &userId) override;
    SignUpOutcome signUp(const std::vector<RateHit> &hits, const SignUpRequest &request) override;
    std::optional<PendingSignUps> pendingSignUps(const QByteArray &linkHash, qint64 now, int limit) override;
    Confirmation confirmSignUp(const std::vector<RateHit> &hits, const QByteArray &linkHash,
                               const QByteArray &passwordHash, qint64 now) override;
    bool addLinkForLatestSignUp(const QString &userId, const QByteArray &linkHash, qint64 expiresAt) override;
    SignInRecord createSignIn(const QString &userId, const QByteArray &refreshTokenHash, qint64 now) override;
    RefreshRotation rotateRefreshToken(const QByteArray &presentedHash, const QByteArray &newHash, qint64 now,
                                       const RateHit &perSignIn) override;
    void revokeSignIn(const QString &signInId, qint64 now) override;
    std::optional<SignInRecord> signIn(const QString &signInId) override;
    qint64 countHit(const QString &key, qint64 windowStart, qint64 windowSeconds) override;
    bool countHits(const std::vector<RateHit> &hits) override;
    qint64 hits(const QString &key, qint64 windowStart) override;
    bool writeBackup(const QString &userId, const QString &ns, std::size_t size, const BackupSource &source,
                     qint64 storedAt, std::size_t accountQuota) override;
    std::optional<BackupInfo> readBackup(const QString &userId, const QString &ns, const BackupSink &sink) override;
    std::optional<OpenedBackup> openBackup(const QString &userId, const QString &ns) override;
    qint64 backupBytes(const QString &userId, const QString &except) override;
    void putCached(const QString &kind, const QString &key, const std::string &value, qint64 now,
                   std::optional<qint64> expiresAt) override;
    std::optional<CachedEntry> cached(const QString &kind, const QString &key, qint64 now) override;
    bool tryClaim(const QString &key, const QString &owner, qint64 now, qint64 expiresAt) override;
    void releaseClaim(const QString &key, const QString &owner) override;
    PruneReport prune(qint64 now, const PruneAges &ages) override;
    qint64 refreshTokenRows() override;

private:
    // This thread's connection to the file.
    SqliteDatabase &db();
    template<class Work>
    auto guarded(const char *what, Work &&work) -> decltype(work());
    // `work` inside one IMMEDIATE transaction, after this process's earlier writers.
    template<class Work>
    auto write(const char *what, Work &&work) -> decltype(work(std::declval<SqliteDatabase &>()));

    QString m_path;
    WriteQueue m_writes;
    quint64 m_generation; // tells this store's thread connections from those of an earlier store
    std::unique_ptr<BackupFiles> m_files; // the backup documents, beside the file ("<file>-backups")
};

} // namespace server
