#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// A failure of sign-up or sign-in, with the Chinese message the account screens show.
class AuthError : public std::exception
{
public:
    enum class Kind {
        server,             // unexpected HTTP status
        validation,         // the input was refused before sending; the payload is the message
        emailExists,
        notConfirmed,
        invalidCredentials,
        network,            // the transfer failed (no connection, time-out, cancelled)
        keyRefused,         // the service does not accept the key this program sends
    };

    static AuthError server(int status) { return AuthError(Kind::server, status, {}); }
    static AuthError validation(const QString &message) { return AuthError(Kind::validation, 0, message); }
    static AuthError emailExists() { return AuthError(Kind::emailExists, 0, {}); }
    static AuthError notConfirmed() { return AuthError(Kind::notConfirmed, 0, {}); }
    static AuthError invalidCredentials() { return AuthError(Kind::invalidCredentials, 0, {}); }
    static AuthError network() { return AuthError(Kind::network, 0, {}); }
    static AuthError keyRefused(int status) { return AuthError(Kind::keyRefused, status, {}); }

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }              // server and keyRefused only
    const QString &detail() const { return m_detail; }  // validation only

    // The user message.
    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const AuthError &a, const AuthError &b)
    {
        return a.m_kind == b.m_kind && a.m_status == b.m_status && a.m_detail == b.m_detail;
    }

private:
    AuthError(Kind kind, int status, QString detail);

    Kind m_kind;
    int m_status;
    QString m_detail;
    QByteArray m_what;
};
