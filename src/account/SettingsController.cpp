#include "account/SettingsController.h"

#include "backend/AuthService.h"
#include "backend/RemoteAPIConfig.h"
#include "core/AppLog.h"

SettingsController::SettingsController(QObject *parent)
    : QObject(parent)
{
}

SettingsController::~SettingsController() = default;

void SettingsController::setAuthObject(QObject *auth)
{
    auto *service = qobject_cast<AuthService *>(auth);
    if (auth && !service)
        qCWarning(lcUi) << "SettingsController.auth: not an authentication service:" << auth;
    setAuth(service);
}

void SettingsController::setAuth(AuthService *auth)
{
    if (m_auth == auth)
        return;
    disconnect(m_sessionConnection);
    m_auth = auth;
    if (auth)
        m_sessionConnection = connect(auth, &AuthService::sessionChanged, this, &SettingsController::accountChanged);
    emit authChanged();
    emit accountChanged();
}

QString SettingsController::accountEmail() const
{
    const std::optional<QString> email = m_auth ? m_auth->currentEmail() : std::nullopt;
    return email.value_or(QStringLiteral("未登录"));
}

bool SettingsController::canSignOut() const
{
    return m_auth && m_auth->isSignedIn();
}

QString SettingsController::provider() const
{
    return QStringLiteral("Cantorella Backend");
}

QString SettingsController::endpoint() const
{
    return RemoteAPIConfig::baseURL().toString(QUrl::FullyEncoded);
}

void SettingsController::signOut()
{
    if (!canSignOut())
        return;
    runSignOut(m_auth);
}

QCoro::Task<void> SettingsController::runSignOut(QPointer<AuthService> auth)
{
    co_await auth->signOut();
}
