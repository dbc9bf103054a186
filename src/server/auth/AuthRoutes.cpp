#include "server/auth/AuthRoutes.h"

#include "server/auth/AccessTokens.h"
#include "server/auth/Mailer.h"
#include "server/auth/Passwords.h"
#include "server/auth/SignInCheck.h"
#include "server/config/Secrets.h"
#include "server/http/Log.h"
#include "server/http/Replies.h"
#include "server/http/Router.h"
#include "server/http/ServerContext.h"

#include "platform/JsonWriter.h"
#include "platform/Text.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QUrlQuery>

#include <sodium.h>

namespace server {
namespace {

constexpr std::size_t authBodyLimit = 16 * 1024;
constexpr int minimumPasswordLength = 6;
constexpr int maximumPasswordBytes = 1024;
constexpr qint64 confirmationLinkSeconds = 24 * 3600;

using Request = http::Request;
using Response = http::Reply;

QString normalisedEmail(const QString &email)
{
    return Text::trimmed(email).toLower();
}

bool isValidEmail(const QString &normalised)
{
    static const QRegularExpression pattern(QStringLiteral(R"(^[^\s@]+@[^\s@.]+(?:\.[^\s@.]+)+$)"));
    return normalised.size() <= 320 && pattern.match(normalised).hasMatch();
}

QString isoTime(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}

void writeUser(JsonWriter &writer, const UserRecord &user)
{
    writer.beginObject()
        .member("id", user.id)
        .member("aud", "authenticated")
        .member("role", "authenticated")
        .member("email", user.email)
        .member("created_at", isoTime(user.createdAt))
        .endObject();
}

// The hosted service's error shapes: {"code","error_code","msg"} from signup, resend, logout;
// {"error","error_description"} from token.
void sendMsgError(Response &response, int status, const char *code, const QString &message)
{
    http::sendJson(response, status, JsonWriter::toBytes([&](JsonWriter &writer) {
                       writer.beginObject().member("code", status).member("error_code", code).member("msg", message).endObject();
                   }));
}

void sendGrantError(Response &response, int status, const char *error, const QString &description)
{
    http::sendError(response, status, {{"error", QString::fromLatin1(error)}, {"error_description", description}});
}

bool overLimit(ServerContext &context, const QString &key, int limit, qint64 windowSeconds)
{
    const qint64 now = context.now();
    const qint64 windowStart = now - now % windowSeconds;
    return context.store.countHit(key, windowStart, windowSeconds) > limit;
}

QString addressKey(const char *what, ServerContext &context, const Request &request)
{
    return QString::fromLatin1(what) + QLatin1Char(':') + QString::fromStdString(context.clientAddress(request));
}

QString emailKey(const char *what, const QString &email)
{
    return QString::fromLatin1(what) + QLatin1Char(':') + QString::fromLatin1(tokenHash(email.toStdString()));
}

// The token reply for a sign-in: a new access token and the given refresh token.
void sendTokenReply(ServerContext &context, Response &response, const UserRecord &user, const QString &signInId,
                    const std::string &refreshToken)
{
    const AccessTokens::Issued access = context.tokens.issue(user.id, signInId, context.now());
    http::sendJson(response, 200, JsonWriter::toBytes([&](JsonWriter &writer) {
                       writer.beginObject()
                           .member("access_token", QString::fromStdString(access.token))
                           .member("token_type", "bearer")
                           .member("expires_in", context.tokens.lifetimeSeconds())
                           .member("expires_at", access.expiresAt)
                           .member("refresh_token", QString::fromStdString(refreshToken));
                       writer.key("user");
                       writeUser(writer, user);
                       writer.endObject();
                   }));
}

// Starts a sign-in for the user and answers the token reply.
void sendNewSession(ServerContext &context, Response &response, const UserRecord &user)
{
    const std::string refreshToken = randomToken(32);
    const SignInRecord signIn = context.store.createSignIn(user.id, tokenHash(refreshToken), context.now());
    sendTokenReply(context, response, user, signIn.id, refreshToken);
}

bool sendConfirmationLink(ServerContext &context, const UserRecord &user)
{
    const std::string token = randomToken(32);
    context.store.putOneTimeToken(tokenHash(token), user.id, context.now() + confirmationLinkSeconds);
    const QString link = context.publicOrigin + QStringLiteral("/auth/v1/verify?type=signup&token=")
        + QString::fromStdString(token);
    return context.mailer.sendConfirmation(user.email, link);
}

struct Credentials
{
    QString email;    // as sent
    QString password; // as sent
};

std::optional<Credentials> readCredentials(const JsonReader &body)
{
    const auto email = body.lenientString(u"email");
    const auto password = body.lenientString(u"password");
    if (!email || !password)
        return std::nullopt;
    return Credentials{*email, *password};
}

void signUp(ServerContext &context, const Request &request, Response &response)
{
    if (overLimit(context, addressKey("signup-address", context, request), context.config.signUpsPerMinute, 60))
        return sendMsgError(response, 429, "over_request_rate_limit", QStringLiteral("Too many sign-ups, try again later"));
    const auto body = http::readJsonObject(request, response);
    if (!body)
        return;
    const std::optional<Credentials> credentials = readCredentials(*body);
    if (!credentials)
        return sendMsgError(response, 400, "validation_failed", QStringLiteral("email and password are required strings"));
    const QString email = normalisedEmail(credentials->email);
    if (!isValidEmail(email))
        return sendMsgError(response, 400, "validation_failed", QStringLiteral("Unable to validate email address: bad format"));
    if (Text::characterCount(credentials->password) < minimumPasswordLength
        || credentials->password.toUtf8().size() > maximumPasswordBytes)
        return sendMsgError(response, 400, "weak_password", QStringLiteral("Password should be 6 to 1024 characters"));

    const bool confirmed = !context.config.requireConfirmation;
    const std::optional<UserRecord> user =
        context.store.createUser(email, Passwords::hash(credentials->password), confirmed, context.now());
    if (!user)
        return sendMsgError(response, 422, "user_already_exists", QStringLiteral("User already registered"));
    if (confirmed)
        return sendNewSession(context, response, *user);
    sendConfirmationLink(context, *user);
    // No tokens: the client waits for the confirmation.
    http::sendJson(response, 200, JsonWriter::toBytes([&](JsonWriter &writer) { writeUser(writer, *user); }));
}

void passwordGrant(ServerContext &context, const Request &request, Response &response)
{
    const auto body = http::readJsonObject(request, response);
    if (!body)
        return;
    const std::optional<Credentials> credentials = readCredentials(*body);
    if (!credentials)
        return sendGrantError(response, 400, "invalid_request", QStringLiteral("email and password are required strings"));
    const QString email = normalisedEmail(credentials->email);
    const bool tooMany = overLimit(context, emailKey("signin-email", email), context.config.signInsPerMinute, 60);
    if (overLimit(context, addressKey("signin-address", context, request), context.config.signInsPerMinute, 60) || tooMany)
        return sendGrantError(response, 429, "over_request_rate_limit", QStringLiteral("Too many sign-in attempts, try again later"));

    const std::optional<UserRecord> user = isValidEmail(email) ? context.store.userByEmail(email) : std::nullopt;
    if (!user || credentials->password.toUtf8().size() > maximumPasswordBytes) {
        Passwords::verifyNothing(credentials->password);
        return sendGrantError(response, 400, "invalid_grant", QStringLiteral("Invalid login credentials"));
    }
    if (!Passwords::verify(user->passwordHash, credentials->password))
        return sendGrantError(response, 400, "invalid_grant", QStringLiteral("Invalid login credentials"));
    if (!user->confirmed)
        return sendGrantError(response, 400, "invalid_grant", QStringLiteral("Email not confirmed"));
    sendNewSession(context, response, *user);
}

void refreshGrant(ServerContext &context, const Request &request, Response &response)
{
    const auto body = http::readJsonObject(request, response);
    if (!body)
        return;
    const std::optional<QString> presented = body->lenientString(u"refresh_token");
    if (!presented || presented->isEmpty() || presented->size() > 256)
        return sendGrantError(response, 400, "invalid_request", QStringLiteral("refresh_token is required"));
    const std::string newToken = randomToken(32);
    const qint64 now = context.now();
    const RefreshRotation rotation = context.store.rotateRefreshToken(tokenHash(presented->toStdString()), tokenHash(newToken), now);
    if (rotation.outcome == RefreshRotation::Outcome::Reused) {
        // The store revoked the sign-in; its access tokens must stop working here at once too.
        if (context.signIns)
            context.signIns->forget(rotation.signInId);
        logLine(QStringLiteral("auth: a used refresh token came back; its sign-in is revoked"));
    }
    const std::optional<UserRecord> user =
        rotation.outcome == RefreshRotation::Outcome::Rotated ? context.store.userById(rotation.userId) : std::nullopt;
    if (!user)
        return sendGrantError(response, 400, "invalid_grant", QStringLiteral("Invalid Refresh Token"));
    sendTokenReply(context, response, *user, rotation.signInId, newToken);
}

void resend(ServerContext &context, const Request &request, Response &response)
{
    const auto body = http::readJsonObject(request, response);
    if (!body)
        return;
    const auto type = body->lenientString(u"type");
    const auto rawEmail = body->lenientString(u"email");
    if (!type || *type != u"signup" || !rawEmail)
        return sendMsgError(response, 400, "validation_failed", QStringLiteral("type \"signup\" and email are required"));
    const QString email = normalisedEmail(*rawEmail);
    if (!isValidEmail(email))
        return sendMsgError(response, 400, "validation_failed", QStringLiteral("Unable to validate email address: bad format"));
    if (overLimit(context, emailKey("resend-email", email), context.config.resendsPerHour, 3600)
        || overLimit(context, addressKey("resend-address", context, request), context.config.signUpsPerMinute, 60))
        return sendMsgError(response, 429, "over_email_send_rate_limit", QStringLiteral("Too many e-mails, try again later"));
    // The same answer whether or not the address has an account waiting.
    const std::optional<UserRecord> user = context.store.userByEmail(email);
    if (user && !user->confirmed)
        sendConfirmationLink(context, *user);
    http::sendJson(response, 200, "{}");
}

void logout(ServerContext &context, const Request &request, Response &response)
{
    const std::optional<std::string> token = bearerToken(request);
    // An expired token still ends its sign-in (its refresh token would otherwise live on).
    const std::optional<AccessClaims> claims = token ? context.tokens.verify(*token, context.now(), true) : std::nullopt;
    if (!claims)
        return sendMsgError(response, 401, "no_authorization", QStringLiteral("This endpoint requires a valid Bearer token"));
    context.revokeSignIn(claims->signInId);
    response.status = 204;
}

void verifyLink(ServerContext &context, const Request &request, Response &response)
{
    const std::string token = http::queryValue(request, "token").value_or(std::string());
    const std::optional<QString> userId =
        token.empty() || token.size() > 256 ? std::nullopt : context.store.takeOneTimeToken(tokenHash(token), context.now());
    if (userId)
        context.store.confirmUser(*userId);
    response.status = userId ? 200 : 400;
    const QString text = userId ? QStringLiteral("邮箱已确认，现在可以回到 Cantorella 登录了。")
                                : QStringLiteral("链接无效或已过期，请在 Cantorella 里重新发送确认邮件。");
    response.setContent(QStringLiteral("<!doctype html><meta charset=\"utf-8\"><title>Cantorella</title><p>%1</p>\n")
                             .arg(text)
                             .toStdString(),
                         "text/html; charset=utf-8");
}

bool hasAnonKey(const ServerContext &context, const Request &request)
{
    const std::string key = request.header("apikey");
    const std::string &expected = context.secrets.anonKey;
    return key.size() == expected.size() && sodium_memcmp(key.data(), expected.data(), key.size()) == 0;
}

// Every call but the e-mail link must carry the anonymous key.
http::Handler withAnonKey(ServerContext &context, void (*handler)(ServerContext &, const Request &, Response &))
{
    return [&context, handler](const Request &request, Response &response) {
        if (!hasAnonKey(context, request))
            return http::sendError(response, 401, {{"message", QStringLiteral("Invalid API key")}});
        handler(context, request, response);
    };
}

void token(ServerContext &context, const Request &request, Response &response)
{
    const std::string grant = http::queryValue(request, "grant_type").value_or(std::string());
    if (grant == "password")
        return passwordGrant(context, request, response);
    // Never rate-limited: a refused refresh signs the user out.
    if (grant == "refresh_token")
        return refreshGrant(context, request, response);
    sendGrantError(response, 400, "unsupported_grant_type", QStringLiteral("grant_type must be password or refresh_token"));
}

} // namespace

void registerAuthRoutes(http::Router &router, ServerContext &context)
{
    router.post("/auth/v1/signup", authBodyLimit, withAnonKey(context, signUp));
    router.post("/auth/v1/token", authBodyLimit, withAnonKey(context, token));
    router.post("/auth/v1/resend", authBodyLimit, withAnonKey(context, resend));
    router.post("/auth/v1/logout", authBodyLimit, withAnonKey(context, logout));
    router.get("/auth/v1/verify", [&context](const Request &request, Response &response) { verifyLink(context, request, response); });
}

} // namespace server
