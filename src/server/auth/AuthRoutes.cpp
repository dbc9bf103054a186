#include "server/auth/AuthRoutes.h"

#include "server/auth/AccessTokens.h"
#include "server/auth/ConfirmationPage.h"
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

#include <sodium.h>

namespace server {
namespace {

constexpr std::size_t authBodyLimit = 16 * 1024;
constexpr int minimumPasswordLength = 6;
constexpr int maximumPasswordBytes = 1024;
constexpr qint64 confirmationLinkSeconds = 24 * 3600;
// A confirmation tries the password on this many of the address's latest pending sign-ups at
// most (each try is a password hash); an older one is signed up again.
constexpr int pendingSignUpsTried = 5;

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

RateHit rateHit(const QString &key, int limit, qint64 windowSeconds, qint64 now)
{
    return RateHit{key, now - now % windowSeconds, windowSeconds, limit};
}

// True when the attempt may go on to the work its limits guard (a password hash). A read first
// refuses, without a write, a request whose window is used up already; then the attempt is counted
// in one write that tells whether it fits, before the work: requests that arrive together each
// pass the read, but no more of them than the limits have room for pass the count.
bool countAttempt(ServerContext &context, const std::vector<RateHit> &hits)
{
    const bool usedUp = std::any_of(hits.begin(), hits.end(), [&](const RateHit &hit) {
        return context.store.hits(hit.key, hit.windowStart) >= hit.limit;
    });
    return !usedUp && context.store.countHits(hits);
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

// Mails the link of a confirmation token already stored.
bool sendConfirmationLink(ServerContext &context, const QString &email, const std::string &token)
{
    const QString link = context.publicOrigin + QStringLiteral("/auth/v1/verify?type=signup&token=")
        + QString::fromStdString(token);
    return context.mailer.sendConfirmation(email, link);
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
    const qint64 now = context.now();
    const std::vector<RateHit> hits{rateHit(addressKey("signup-address", context, request), context.config.signUpsPerMinute, 60, now)};
    const auto limited = [&] {
        sendMsgError(response, 429, "over_request_rate_limit", QStringLiteral("Too many sign-ups, try again later"));
    };
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
    if (!countAttempt(context, hits))
        return limited();

    // The hash and the tokens are made before the write that stores them.
    SignUpRequest signUp{email, Passwords::hash(credentials->password), now, std::nullopt, 0, std::nullopt};
    const std::string secret = randomToken(32); // the link's token, or the first refresh token
    if (context.config.requireConfirmation) {
        signUp.linkHash = tokenHash(secret);
        signUp.linkExpiresAt = now + confirmationLinkSeconds;
    } else {
        signUp.refreshTokenHash = tokenHash(secret);
    }
    const SignUpOutcome outcome = context.store.signUp({}, signUp);
    switch (outcome.outcome) {
    case SignUpOutcome::Outcome::Limited:
        return limited();
    case SignUpOutcome::Outcome::Taken:
        return sendMsgError(response, 422, "user_already_exists", QStringLiteral("User already registered"));
    case SignUpOutcome::Outcome::Created:
    case SignUpOutcome::Outcome::Pending:
        break;
    }
    if (outcome.signIn)
        return sendTokenReply(context, response, outcome.user, outcome.signIn->id, secret);
    // Each sign-up of an address still waiting gets a link of its own; any of them opens the
    // form that activates the sign-up whose password is entered there.
    sendConfirmationLink(context, email, secret);
    // No tokens: the client waits for the confirmation.
    http::sendJson(response, 200, JsonWriter::toBytes([&](JsonWriter &writer) { writeUser(writer, outcome.user); }));
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
    const qint64 now = context.now();
    const int limit = context.config.signInsPerMinute;
    const std::vector<RateHit> hits{rateHit(emailKey("signin-email", email), limit, 60, now),
                                    rateHit(addressKey("signin-address", context, request), limit, 60, now)};
    const auto limited = [&] {
        sendGrantError(response, 429, "over_request_rate_limit", QStringLiteral("Too many sign-in attempts, try again later"));
    };
    // Counted before the password is checked, right or wrong (a sign-in that succeeds counts too).
    if (!countAttempt(context, hits))
        return limited();

    const std::optional<UserRecord> user = isValidEmail(email) ? context.store.userByEmail(email) : std::nullopt;
    bool verified = false;
    if (!user || credentials->password.toUtf8().size() > maximumPasswordBytes)
        Passwords::verifyNothing(credentials->password);
    else
        verified = Passwords::verify(user->passwordHash, credentials->password);
    if (!verified)
        return sendGrantError(response, 400, "invalid_grant", QStringLiteral("Invalid login credentials"));
    if (!user->confirmed)
        return sendGrantError(response, 400, "invalid_grant", QStringLiteral("Email not confirmed"));
    const std::string refreshToken = randomToken(32);
    const SignInRecord signIn = context.store.createSignIn(user->id, tokenHash(refreshToken), now);
    sendTokenReply(context, response, *user, signIn.id, refreshToken);
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
    // Generous: the application refreshes about once an hour, and a refused refresh signs it out.
    const RateHit perSignIn = rateHit(QStringLiteral("refresh:"), context.config.refreshesPerHour, 3600, now);
    const RefreshRotation rotation =
        context.store.rotateRefreshToken(tokenHash(presented->toStdString()), tokenHash(newToken), now, perSignIn);
    if (rotation.outcome == RefreshRotation::Outcome::Limited)
        return sendGrantError(response, 429, "over_request_rate_limit", QStringLiteral("Too many refreshes, try again later"));
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
    // A new link for the address's latest pending sign-up (its password).
    const std::optional<UserRecord> user = context.store.userByEmail(email);
    const std::string secret = randomToken(32);
    if (user && !user->confirmed
        && context.store.addLinkForLatestSignUp(user->id, tokenHash(secret), context.now() + confirmationLinkSeconds))
        sendConfirmationLink(context, email, secret);
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

// The e-mail link opens a form that asks for the password; opening it activates nothing (mail
// scanners fetch links). The password entered activates the pending sign-up whose password it
// is, whichever of the address's links was opened: so someone who signed up first, or after,
// with another person's address cannot have that person activate their password.
std::optional<PendingSignUps> pendingOfLink(ServerContext &context, const std::string &token, qint64 now)
{
    if (token.empty() || token.size() > 256)
        return std::nullopt;
    return context.store.pendingSignUps(tokenHash(token), now, pendingSignUpsTried);
}

void confirmationForm(ServerContext &context, const Request &request, Response &response)
{
    using ConfirmationPage::Kind;
    const std::string token = http::queryValue(request, "token").value_or(std::string());
    if (!pendingOfLink(context, token, context.now()))
        return ConfirmationPage::send(response, 400, Kind::InvalidLink);
    ConfirmationPage::send(response, 200, Kind::Form, token);
}

void confirmByPassword(ServerContext &context, const Request &request, Response &response)
{
    using ConfirmationPage::Kind;
    const ConfirmationPage::Answer answer = ConfirmationPage::read(request.body);
    const qint64 now = context.now();
    const std::optional<PendingSignUps> pending = pendingOfLink(context, answer.token, now);
    if (!pending)
        return ConfirmationPage::send(response, 400, Kind::InvalidLink);
    // Counted as password sign-ins of the address are, and with them: the form is no way
    // around their limit.
    const int limit = context.config.signInsPerMinute;
    const std::vector<RateHit> hits{rateHit(emailKey("signin-email", pending->user.email), limit, 60, now),
                                    rateHit(addressKey("signin-address", context, request), limit, 60, now)};
    if (!countAttempt(context, hits))
        return ConfirmationPage::send(response, 429, Kind::TooMany);
    // The hashes are checked after the attempt is counted, the newest sign-up's first.
    QByteArray matched;
    if (answer.password.toUtf8().size() <= maximumPasswordBytes) {
        for (const QByteArray &hash : pending->passwordHashes) {
            if (Passwords::verify(hash, answer.password)) {
                matched = hash;
                break;
            }
        }
    }
    const Confirmation confirmation = context.store.confirmSignUp({}, tokenHash(answer.token), matched, now);
    switch (confirmation.outcome) {
    case Confirmation::Outcome::Confirmed:
        return ConfirmationPage::send(response, 200, Kind::Confirmed);
    case Confirmation::Outcome::Limited:
        return ConfirmationPage::send(response, 429, Kind::TooMany);
    case Confirmation::Outcome::Refused:
        break;
    }
    if (matched.isEmpty())
        return ConfirmationPage::send(response, 400, Kind::WrongPassword, answer.token);
    ConfirmationPage::send(response, 400, Kind::InvalidLink); // confirmed or expired meanwhile
}

bool hasAnonKey(const ServerContext &context, const Request &request)
{
    const std::string key = request.header("apikey");
    const std::string &expected = context.secrets.anonKey;
    return key.size() == expected.size() && sodium_memcmp(key.data(), expected.data(), key.size()) == 0;
}

// Every call but the e-mail link and its form must carry the anonymous key.
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
    // The e-mail link and its form: opened in a browser, without the anonymous key.
    router.get("/auth/v1/verify",
               [&context](const Request &request, Response &response) { confirmationForm(context, request, response); });
    router.post("/auth/v1/verify", authBodyLimit,
                [&context](const Request &request, Response &response) { confirmByPassword(context, request, response); });
}

} // namespace server
