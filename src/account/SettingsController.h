#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include "backend/AuthService.h"

// The values of the settings window: which account is signed in, the sign-out command, and
// where lyrics and study cards come from. Nothing here is editable; the backend is compiled in.
class SettingsController : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    // Typed QObject for QML, which sees the service through its own module; anything but an
    // AuthService counts as none.
    Q_PROPERTY(QObject *auth READ auth WRITE setAuthObject NOTIFY authChanged)
    Q_PROPERTY(QString accountEmail READ accountEmail NOTIFY accountChanged)
    Q_PROPERTY(bool canSignOut READ canSignOut NOTIFY accountChanged)
    Q_PROPERTY(QString provider READ provider CONSTANT)
    Q_PROPERTY(QString endpoint READ endpoint CONSTANT)

public:
    explicit SettingsController(QObject *parent = nullptr);
    ~SettingsController() override;

    AuthService *auth() const { return m_auth; }
    void setAuth(AuthService *auth);
    void setAuthObject(QObject *auth);

    // The session's e-mail address; "未登录" without a session or without an address.
    QString accountEmail() const;
    // A session is present (even one without an e-mail address).
    bool canSignOut() const;
    QString provider() const;
    // The backend's compiled-in (or environment-given) base address, as text.
    QString endpoint() const;

    // Signs out; the local session is cleared whatever the service answers.
    Q_INVOKABLE void signOut();

signals:
    void authChanged();
    void accountChanged();

private:
    static QCoro::Task<void> runSignOut(QPointer<AuthService> auth);

    QPointer<AuthService> m_auth;
    QMetaObject::Connection m_sessionConnection;
};
