#include "HttpFakeAuth.h"

#include <QDateTime>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

using Reply = HttpFake::Reply;

// The shape of the service's general errors.
Reply codeError(int status, const QString &errorCode, const QString &msg)
{
    return Reply::json(status, QJsonObject{{QStringLiteral("code"), status},
                                           {QStringLiteral("error_code"), errorCode},
                                           {QStringLiteral("msg"), msg}});
}

// The shape of the token call's OAuth-style errors.
Reply grantError(const QString &error, const QString &description)
{
    return Reply::json(400, QJsonObject{{QStringLiteral("error"), error},
                                        {QStringLiteral("error_description"), description}});
}

QString bodyString(const HttpFake::Request &request, const char *key)
{
    return request.jsonObject().value(QLatin1String(key)).toString();
}

bool looksLikeEmail(const QString &email)
{
    static const QRegularExpression pattern(QStringLiteral("^[^\\s@]+@[^\\s@]+\\.[^\\s@]+$"));
    return pattern.match(email).hasMatch();
}

} // namespace

QString HttpFakeAuth::addUser(const QString &email, const QString &password, bool confirmed)
{
    const QString key = email.toLower();
    QString id = m_users.contains(key) ? m_users.value(key).id
                                       : QStringLiteral("00000000-0000-4000-8000-%1").arg(m_nextId++, 12, 10, QLatin1Char('0'));
    m_users.insert(key, User{id, email, password, confirmed});
    return id;
}

void HttpFakeAuth::confirm(const QString &email)
{
    auto it = m_users.find(email.toLower());
    if (it != m_users.end())
        it->confirmed = true;
}

std::optional<HttpFakeAuth::User> HttpFakeAuth::user(const QString &email) const
{
    auto it = m_users.constFind(email.toLower());
    if (it == m_users.constEnd())
        return std::nullopt;
    return *it;
}

HttpFakeAuth::Tokens HttpFakeAuth::issueTokens(const QString &email)
{
    const User u = m_users.value(email.toLower());
    Tokens t;
    const int n = m_nextToken++;
    t.accessToken = QStringLiteral("access-%1-%2").arg(u.id.right(4)).arg(n);
    t.refreshToken = QStringLiteral("refresh-%1-%2").arg(u.id.right(4)).arg(n);
    t.userId = u.id;
    t.expiresAt = (m_now ? m_now() : QDateTime::currentSecsSinceEpoch()) + m_expiresIn;
    m_accessTokens.insert(t.accessToken, u.id);
    m_refreshTokens.insert(t.refreshToken, u.id);
    return t;
}

bool HttpFakeAuth::isValidAccessToken(const QString &token) const
{
    return !token.isEmpty() && m_accessTokens.contains(token);
}

std::optional<HttpFake::Reply> HttpFakeAuth::handle(const HttpFake::Request &request)
{
    static const QStringList paths{QStringLiteral("/auth/v1/signup"), QStringLiteral("/auth/v1/token"),
                                   QStringLiteral("/auth/v1/resend"), QStringLiteral("/auth/v1/logout")};
    if (!paths.contains(request.path))
        return std::nullopt;

    if (m_anonKey) {
        const std::optional<QByteArray> key = request.header("apikey");
        if (!key)
            return Reply::json(401, QJsonObject{{QStringLiteral("message"), QStringLiteral("No API key found in request")}});
        if (QString::fromUtf8(*key) != *m_anonKey)
            return Reply::json(401, QJsonObject{{QStringLiteral("message"), QStringLiteral("Invalid API key")}});
    }
    if (request.method != "POST")
        return codeError(405, QStringLiteral("method_not_allowed"), QStringLiteral("Method not allowed"));

    if (request.path.endsWith(QLatin1String("/signup")))
        return signUp(request);
    if (request.path.endsWith(QLatin1String("/token")))
        return token(request);
    if (request.path.endsWith(QLatin1String("/resend")))
        return resend(request);
    return logout(request);
}

HttpFake::Reply HttpFakeAuth::tokenReply(const Tokens &tokens, const User &user) const
{
    const QJsonObject userObject{{QStringLiteral("id"), user.id},
                                 {QStringLiteral("aud"), QStringLiteral("authenticated")},
                                 {QStringLiteral("role"), QStringLiteral("authenticated")},
                                 {QStringLiteral("email"), user.email},
                                 {QStringLiteral("email_confirmed_at"), QStringLiteral("2024-01-01T00:00:00Z")}};
    return Reply::json(200, QJsonObject{{QStringLiteral("access_token"), tokens.accessToken},
                                        {QStringLiteral("token_type"), QStringLiteral("bearer")},
                                        {QStringLiteral("expires_in"), double(m_expiresIn)},
                                        {QStringLiteral("expires_at"), double(tokens.expiresAt)},
                                        {QStringLiteral("refresh_token"), tokens.refreshToken},
                                        {QStringLiteral("user"), userObject}});
}

HttpFake::Reply HttpFakeAuth::signUp(const HttpFake::Request &request)
{
    const QString email = bodyString(request, "email").trimmed();
    const QString password = bodyString(request, "password");
    if (!looksLikeEmail(email))
        return codeError(400, QStringLiteral("validation_failed"),
                         QStringLiteral("Unable to validate email address: invalid format"));
    if (password.size() < 6)
        return codeError(422, QStringLiteral("weak_password"), QStringLiteral("Password should be at least 6 characters."));
    if (m_users.contains(email.toLower()))
        return codeError(422, QStringLiteral("user_already_exists"), QStringLiteral("User already registered"));

    addUser(email, password, m_autoConfirm);
    const User u = *user(email);
    if (m_autoConfirm)
        return tokenReply(issueTokens(email), u);
    // Awaiting the e-mail confirmation: the user record without any token.
    return Reply::json(200, QJsonObject{{QStringLiteral("id"), u.id},
                                        {QStringLiteral("aud"), QStringLiteral("authenticated")},
                                        {QStringLiteral("role"), QStringLiteral("authenticated")},
                                        {QStringLiteral("email"), u.email},
                                        {QStringLiteral("confirmation_sent_at"), QStringLiteral("2024-01-01T00:00:00Z")}});
}

HttpFake::Reply HttpFakeAuth::token(const HttpFake::Request &request)
{
    const QString grant = request.queryValue(QStringLiteral("grant_type"));
    if (grant == QLatin1String("password")) {
        const QString email = bodyString(request, "email").trimmed();
        const std::optional<User> u = user(email);
        if (!u || u->password != bodyString(request, "password"))
            return grantError(QStringLiteral("invalid_grant"), QStringLiteral("Invalid login credentials"));
        if (!u->confirmed)
            return grantError(QStringLiteral("invalid_grant"), QStringLiteral("Email not confirmed"));
        return tokenReply(issueTokens(u->email), *u);
    }
    if (grant == QLatin1String("refresh_token")) {
        const QString refreshToken = bodyString(request, "refresh_token");
        if (!m_refreshTokens.contains(refreshToken))
            return grantError(QStringLiteral("invalid_grant"),
                              QStringLiteral("Invalid Refresh Token: Refresh Token Not Found"));
        const QString userId = m_refreshTokens.take(refreshToken); // refresh tokens are used once
        for (const User &u : std::as_const(m_users))
            if (u.id == userId)
                return tokenReply(issueTokens(u.email), u);
        return grantError(QStringLiteral("invalid_grant"), QStringLiteral("User not found"));
    }
    return grantError(QStringLiteral("unsupported_grant_type"),
                      QStringLiteral("grant_type must be password or refresh_token"));
}

HttpFake::Reply HttpFakeAuth::resend(const HttpFake::Request &request)
{
    const QString email = bodyString(request, "email").trimmed();
    if (bodyString(request, "type") != QLatin1String("signup") || email.isEmpty())
        return codeError(400, QStringLiteral("validation_failed"), QStringLiteral("Missing email or type"));
    m_resends[email.toLower()] += 1;
    return Reply::json(200, QJsonObject{});
}

HttpFake::Reply HttpFakeAuth::logout(const HttpFake::Request &request)
{
    const QByteArray authorization = request.header("Authorization").value_or(QByteArray());
    if (!authorization.startsWith("Bearer "))
        return codeError(401, QStringLiteral("no_authorization"), QStringLiteral("This endpoint requires a Bearer token"));
    const QString token = QString::fromUtf8(authorization.mid(7));
    if (!m_accessTokens.contains(token))
        return codeError(401, QStringLiteral("bad_jwt"), QStringLiteral("invalid JWT: unable to parse or verify signature"));
    const QString userId = m_accessTokens.value(token);
    // Signing out ends every session of the user.
    m_accessTokens.removeIf([&](const auto &it) { return it.value() == userId; });
    m_refreshTokens.removeIf([&](const auto &it) { return it.value() == userId; });
    return Reply::empty(204);
}
