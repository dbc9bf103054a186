#pragma once

#include "backend/BackupSyncProviding.h"
#include "backend/AuthService.h"
#include "backend/RemoteAPIConfig.h"

#include <QPointer>
#include <QUrl>

#include <optional>

// Moves the backup file between the program and the backend: PUT /api/backup?namespace=en
// replaces the stored backup, GET fetches it. The bytes are opaque here.
//
// Upload: 200 {"sizeBytes": integer, "storedAt"?: string} → the size; 401 → the session is
// cleared and unauthorized; 413 → tooLarge; other → server(status). Download: 200 → the body as
// it is; 404 → no backup (not a failure); 401 → unauthorized; other → server(status). Every
// failed transfer — time-out, refused, dropped, cancelled — is `transport`.
class RemoteBackupProvider final : public BackupSyncProviding
{
public:
    static inline const QString backupNamespace = QStringLiteral("en");

    // `session` and `auth` must outlive every call (the shared session and AuthService::shared()
    // live as long as the process). `baseURLOverride` replaces the backend's address when set.
    explicit RemoteBackupProvider(HttpSession *session = &RemoteAPIConfig::sharedSession(),
                                  std::optional<QUrl> baseURLOverride = std::nullopt,
                                  AuthService *auth = AuthService::shared());

    QCoro::Task<qint64> upload(QByteArray data, CancellationToken token = {}) override;
    QCoro::Task<std::optional<QByteArray>> download(CancellationToken token = {}) override;

private:
    HttpSession *m_session;
    QPointer<AuthService> m_auth;
    QUrl m_url;
};
