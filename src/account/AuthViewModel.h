#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <optional>

class AuthError;
#include "backend/AuthService.h"

// The state and actions of the sign-in screen: sign in or register with e-mail and password,
// show the service's errors as banner text, and after a registration that awaits the e-mail
// confirmation show the confirmation panel, from which the mail can be sent again.
//
// The screen never navigates by itself: a session published by the service makes the shell
// replace it. Made inside the view, so a new view (after signing out) starts empty in sign-in
// mode. Requests are not kept or cancelled; one that finishes after the view model is gone
// writes nothing.
class AuthViewModel : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    // Typed QObject for QML, which sees the service through its own module; anything but an
    // AuthService counts as none.
    Q_PROPERTY(QObject *auth READ auth WRITE setAuthObject NOTIFY authChanged)
    Q_PROPERTY(Mode mode READ mode NOTIFY modeChanged)
    Q_PROPERTY(QString email READ email WRITE setEmail NOTIFY emailChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)
    Q_PROPERTY(QString errorMessage READ errorMessageText NOTIFY errorMessageChanged)
    Q_PROPERTY(bool hasErrorMessage READ hasErrorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString infoMessage READ infoMessageText NOTIFY infoMessageChanged)
    Q_PROPERTY(bool hasInfoMessage READ hasInfoMessage NOTIFY infoMessageChanged)
    Q_PROPERTY(QString awaitingConfirmation READ awaitingConfirmationText NOTIFY awaitingConfirmationChanged)
    Q_PROPERTY(bool isAwaitingConfirmation READ isAwaitingConfirmation NOTIFY awaitingConfirmationChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(QString heading READ heading NOTIFY modeChanged)
    Q_PROPERTY(QString submitTitle READ submitTitle NOTIFY modeChanged)
    Q_PROPERTY(QString modeSwitchTitle READ modeSwitchTitle NOTIFY modeChanged)
    Q_PROPERTY(QString confirmationText READ confirmationText NOTIFY awaitingConfirmationChanged)

public:
    enum class Mode { Login, Register };
    Q_ENUM(Mode)

    explicit AuthViewModel(QObject *parent = nullptr);
    ~AuthViewModel() override;

    AuthService *auth() const { return m_auth; }
    void setAuth(AuthService *auth);
    void setAuthObject(QObject *auth);

    Mode mode() const { return m_mode; }
    // Exactly as typed: the address is trimmed only when it is sent.
    const QString &email() const { return m_email; }
    void setEmail(const QString &email);
    const QString &password() const { return m_password; }
    void setPassword(const QString &password);

    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    const std::optional<QString> &infoMessage() const { return m_infoMessage; }
    // The trimmed address a confirmation mail went to; present = the confirmation panel shows.
    const std::optional<QString> &awaitingConfirmation() const { return m_awaitingConfirmation; }

    bool hasErrorMessage() const { return m_errorMessage.has_value(); }
    bool hasInfoMessage() const { return m_infoMessage.has_value(); }
    bool isAwaitingConfirmation() const { return m_awaitingConfirmation.has_value(); }
    bool isBusy() const;

    QString heading() const;
    QString submitTitle() const;
    QString modeSwitchTitle() const;
    QString confirmationText() const;

    // Signs in or registers (by the mode in force now) with the trimmed address and the
    // password as typed. Validation is the service's. Ignored while the service is busy.
    Q_INVOKABLE void submit();
    // The other mode; both banners cleared, the typed texts kept. Emits modeSwitched.
    Q_INVOKABLE void switchMode();
    // Asks the service to send the confirmation mail again to the address the panel shows.
    // No busy state: each call sends another request.
    Q_INVOKABLE void resend();
    // Leaves the confirmation panel for the sign-in form; e-mail, password and error stay.
    Q_INVOKABLE void backToSignIn();
    // Puts a message of the application shell (why the last session ended) in the error
    // banner, as a failed sign-in would; the next action clears it like any error.
    Q_INVOKABLE void showError(const QString &message);

signals:
    void authChanged();
    void modeChanged();
    void emailChanged();
    void passwordChanged();
    void errorMessageChanged();
    void infoMessageChanged();
    void awaitingConfirmationChanged();
    void isBusyChanged();
    // The user switched the mode (the view animates this change, and no other mode change).
    void modeSwitched();

private:
    QString errorMessageText() const { return m_errorMessage.value_or(QString()); }
    QString infoMessageText() const { return m_infoMessage.value_or(QString()); }
    QString awaitingConfirmationText() const { return m_awaitingConfirmation.value_or(QString()); }

    void setMode(Mode mode);
    void setErrorMessage(const std::optional<QString> &message);
    void setInfoMessage(const std::optional<QString> &message);
    void setAwaitingConfirmation(const std::optional<QString> &address);
    // What a failed sign-in or sign-up leaves on screen.
    void applyError(const AuthError &error, const QString &address);

    static QCoro::Task<void> runSubmit(QPointer<AuthViewModel> self, QPointer<AuthService> auth, Mode mode,
                                       QString address, QString password);
    static QCoro::Task<void> runResend(QPointer<AuthViewModel> self, QPointer<AuthService> auth, QString address);

    QPointer<AuthService> m_auth;
    QMetaObject::Connection m_busyConnection;
    Mode m_mode = Mode::Login;
    QString m_email;
    QString m_password;
    std::optional<QString> m_errorMessage;
    std::optional<QString> m_infoMessage;
    std::optional<QString> m_awaitingConfirmation;
};
