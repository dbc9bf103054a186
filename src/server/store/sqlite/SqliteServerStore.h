#pragma once

#include "server/store/ServerStore.h"

#include <QString>

#include <atomic>

class SqliteDatabase;

namespace server {

// The embedded store: one SQLite file in write-ahead-log mode, one connection per request
// thread (opened on the thread's first call), every method one IMMEDIATE transaction where it
// writes. Several processes may share the file; SQLite's locks keep them consistent.
class SqliteServerStore final : public ServerStore
{
public:
    // Opens (creating when missing) the file and its tables. Throws StoreError.
    explicit SqliteServerStore(QString path);
    ~SqliteServerStore() override;

    bool ping() override;
    std::optional<UserRecord> createUser(const QString &email, const QByteArray &passwordHash, bool confirmed,
                                         qint64 now) override;
    std::optional<UserRecord> userByEmail(const QString &email) override;
    std::optional<UserRecord> userById(const QString &userId) override;
    void confirmUser(const QString &userId) override;
    SignInRecord createSignIn(const QString &userId, const QByteArray &refreshTokenHash, qint64 now) override;
    RefreshRotation rotateRefreshToken(const QByteArray &presentedHash, const QByteArray &newHash, qint64 now) override;
    void revokeSignIn(const QString &signInId, qint64 now) override;
    std::optional<SignInRecord> signIn(const QString &signInId) override;
    void putOneTimeToken(const QByteArray &tokenHash, const QString &userId, qint64 expiresAt) override;
    std::optional<QString> takeOneTimeToken(const QByteArray &tokenHash, qint64 now) override;
    qint64 countHit(const QString &key, qint64 windowStart, qint64 windowSeconds) override;
    void writeBackup(const QString &userId, const QString &ns, std::size_t size, const BackupSource &source,
                     qint64 storedAt) override;
    std::optional<BackupInfo> readBackup(const QString &userId, const QString &ns, const BackupSink &sink) override;
    void putCached(const QString &kind, const QString &key, const std::string &value, qint64 now,
                   std::optional<qint64> expiresAt) override;
    std::optional<CachedEntry> cached(const QString &kind, const QString &key, qint64 now) override;
    bool tryClaim(const QString &key, const QString &owner, qint64 now, qint64 expiresAt) override;
    void releaseClaim(const QString &key, const QString &owner) override;

private:
    // This thread's connection to the file.
    SqliteDatabase &db();
    template<class Work>
    auto guarded(const char *what, Work &&work) -> decltype(work());

    QString m_path;
    quint64 m_generation; // tells this store's thread connections from those of an earlier store
};

} // namespace server
