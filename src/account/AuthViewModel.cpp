#include "account/AuthViewModel.h"

#include "backend/AuthError.h"
#include "backend/AuthService.h"
#include "core/AppLog.h"
#include "platform/Text.h"

namespace {

const QString kUnexpectedFailure = QStringLiteral("操作失败，请稍后再试。");
const QString kResent = QStringLiteral("确认邮件已重新发送。");
const QString kResendFailed = QStringLiteral("发送失败，请稍后再试。");

} // namespace

AuthViewModel::AuthViewModel(QObject *parent)
    : QObject(parent)
{
}

AuthViewModel::~AuthViewModel() = default;

void AuthViewModel::setAuthObject(QObject *auth)
{
    auto *service = qobject_cast<AuthService *>(auth);
    if (auth && !service)
        qCWarning(lcUi) << "AuthViewModel.auth: not an authentication service:" << auth;
    setAuth(service);
}

void AuthViewModel::setAuth(AuthService *auth)
{
    if (m_auth == auth)
        return;
    const bool wasBusy = isBusy();
    disconnect(m_busyConnection);
    m_auth = auth;
    if (auth)
        m_busyConnection = connect(auth, &AuthService::isBusyChanged, this, &AuthViewModel::isBusyChanged);
    emit authChanged();
    if (wasBusy != isBusy())
        emit isBusyChanged();
}

bool AuthViewModel::isBusy() const
{
    return m_auth && m_auth->isBusy();
}

void AuthViewModel::setEmail(const QString &email)
{
    if (m_email == email)
        return;
    m_email = email;
    emit emailChanged();
}

void AuthViewModel::setPassword(const QString &password)
{
    if (m_password == password)
        return;
    m_password = password;
    emit passwordChanged();
}

void AuthViewModel::setMode(Mode mode)
{
    if (m_mode == mode)
        return;
    m_mode = mode;
    emit modeChanged();
}

void AuthViewModel::showError(const QString &message)
{
    setErrorMessage(message);
}

void AuthViewModel::setErrorMessage(const std::optional<QString> &message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = message;
    emit errorMessageChanged();
}

void AuthViewModel::setInfoMessage(const std::optional<QString> &message)
{
    if (m_infoMessage == message)
        return;
    m_infoMessage = message;
    emit infoMessageChanged();
}

void AuthViewModel::setAwaitingConfirmation(const std::optional<QString> &address)
{
    if (m_awaitingConfirmation == address)
        return;
    m_awaitingConfirmation = address;
    emit awaitingConfirmationChanged();
}

QString AuthViewModel::heading() const
{
    return m_mode == Mode::Register ? QStringLiteral("创建新账户") : QStringLiteral("登录你的账户");
}

QString AuthViewModel::submitTitle() const
{
    return m_mode == Mode::Register ? QStringLiteral("注册") : QStringLiteral("登录");
}

QString AuthViewModel::modeSwitchTitle() const
{
    return m_mode == Mode::Register ? QStringLiteral("已有账户？去登录") : QStringLiteral("还没有账户？去注册");
}

QString AuthViewModel::confirmationText() const
{
    return QStringLiteral("我们已向 ") + m_awaitingConfirmation.value_or(QString())
        + QStringLiteral(" 发送确认邮件。\n请点击邮件中的链接完成验证后再登录。");
}

void AuthViewModel::submit()
{
    if (!m_auth) {
        qCWarning(lcUi) << "AuthViewModel.submit() without an authentication service";
        return;
    }
    if (m_auth->isBusy())
        return;
    setErrorMessage(std::nullopt);
    setInfoMessage(std::nullopt);
    const QString address = Text::trimmed(m_email);
    runSubmit(QPointer<AuthViewModel>(this), m_auth, m_mode, address, m_password);
}

QCoro::Task<void> AuthViewModel::runSubmit(QPointer<AuthViewModel> self, QPointer<AuthService> auth, Mode mode,
                                           QString address, QString password)
{
    try {
        if (mode == Mode::Login) {
            co_await auth->signIn(address, password);
            co_return; // the published session makes the shell replace this screen
        }
        const bool signedIn = co_await auth->signUp(address, password);
        if (self && !signedIn)
            self->setAwaitingConfirmation(address);
    } catch (const AuthError &error) {
        if (self)
            self->applyError(error, address);
    } catch (...) {
        if (self)
            self->setErrorMessage(kUnexpectedFailure);
    }
}

void AuthViewModel::applyError(const AuthError &error, const QString &address)
{
    switch (error.kind()) {
    case AuthError::Kind::notConfirmed:
        setAwaitingConfirmation(address);
        return;
    case AuthError::Kind::emailExists:
        setErrorMessage(error.errorDescription());
        setMode(Mode::Login);
        return;
    case AuthError::Kind::server:
    case AuthError::Kind::validation:
    case AuthError::Kind::invalidCredentials:
    case AuthError::Kind::network:
    case AuthError::Kind::keyRefused:
        setErrorMessage(error.errorDescription());
        return;
    }
}

void AuthViewModel::switchMode()
{
    setMode(m_mode == Mode::Login ? Mode::Register : Mode::Login);
    setErrorMessage(std::nullopt);
    setInfoMessage(std::nullopt);
    emit modeSwitched();
}

void AuthViewModel::resend()
{
    if (!m_auth || !m_awaitingConfirmation)
        return;
    runResend(QPointer<AuthViewModel>(this), m_auth, *m_awaitingConfirmation);
}

QCoro::Task<void> AuthViewModel::runResend(QPointer<AuthViewModel> self, QPointer<AuthService> auth, QString address)
{
    const bool sent = co_await auth->resendConfirmation(address);
    if (self)
        self->setInfoMessage(sent ? kResent : kResendFailed);
}

void AuthViewModel::backToSignIn()
{
    setAwaitingConfirmation(std::nullopt);
    setInfoMessage(std::nullopt);
    setMode(Mode::Login);
}
