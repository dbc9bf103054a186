#pragma once

#include "HttpFake.h"

#include <QHash>
#include <QString>

#include <functional>
#include <optional>

// The hosted-authentication service as HttpFake answers it: users with passwords and a
// confirmed flag, issued access and refresh tokens, and the replies (token reply, user reply,
// error shapes) of the real service's "/auth/v1" calls:
//   POST /auth/v1/signup                        {"email","password"}
//   POST /auth/v1/token?grant_type=password     {"email","password"}
//   POST /auth/v1/token?grant_type=refresh_token {"refresh_token"}
//   POST /auth/v1/resend                        {"type":"signup","email"}
//   POST /auth/v1/logout                        {} with "Authorization: Bearer <access token>"
// Token reply: {"access_token","token_type":"bearer","expires_in","expires_at","refresh_token",
// "user":{"id","aud","role","email",…}}. Errors: {"error","error_description"} from the token
// call, {"code","error_code","msg"} from the others, {"message"} for a missing or wrong "apikey".
class HttpFakeAuth
{
public:
    struct User
    {
        QString id;
        QString email;
        QString password;
        bool confirmed = true;
    };

    struct Tokens
    {
        QString accessToken;
        QString refreshToken;
        QString userId;
        qint64 expiresAt = 0;
    };

    // When set, every call must carry this "apikey" header (else 401).
    void setAnonKey(const std::optional<QString> &key) { m_anonKey = key; }
    // Sign-up of a new address answers with tokens at once instead of waiting for the e-mail confirmation.
    void setAutoConfirm(bool on) { m_autoConfirm = on; }
    // Lifetime of issued access tokens ("expires_in"; "expires_at" = now + this).
    void setExpiresIn(qint64 seconds) { m_expiresIn = seconds; }
    // The service's clock, seconds since 1970 (default: the system's).
    void setClock(std::function<qint64()> nowSeconds) { m_now = std::move(nowSeconds); }

    // Adds (or replaces) a user; returns the user id.
    QString addUser(const QString &email, const QString &password, bool confirmed = true);
    void confirm(const QString &email);
    std::optional<User> user(const QString &email) const;

    // Issues a fresh token pair for an existing user, as a sign-in would.
    Tokens issueTokens(const QString &email);
    bool isValidAccessToken(const QString &token) const;
    bool isValidRefreshToken(const QString &token) const { return m_refreshTokens.contains(token); }
    // Every issued access token stops being accepted (as if all had expired); refresh tokens stay.
    void expireAccessTokens() { m_accessTokens.clear(); }

    int resendCount(const QString &email) const { return m_resends.value(email.toLower()); }

    // The answer for one of the calls above, or nothing for a path it does not serve.
    std::optional<HttpFake::Reply> handle(const HttpFake::Request &request);

private:
    HttpFake::Reply tokenReply(const Tokens &tokens, const User &user) const;
    HttpFake::Reply signUp(const HttpFake::Request &request);
    HttpFake::Reply token(const HttpFake::Request &request);
    HttpFake::Reply resend(const HttpFake::Request &request);
    HttpFake::Reply logout(const HttpFake::Request &request);

    std::optional<QString> m_anonKey;
    bool m_autoConfirm = false;
    qint64 m_expiresIn = 3600;
    std::function<qint64()> m_now;
    QHash<QString, User> m_users;           // by lower-cased e-mail
    QHash<QString, QString> m_accessTokens; // token -> user id
    QHash<QString, QString> m_refreshTokens;
    QHash<QString, int> m_resends;
    int m_nextId = 1;
    int m_nextToken = 1;
};
