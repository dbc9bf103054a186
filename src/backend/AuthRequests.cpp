// The authentication service's wire format: requests, token replies, error replies, and the
// input rules checked before anything is sent.
#include "backend/AuthService.h"

#include "platform/JsonWriter.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"

#include <QRegularExpression>

void AuthService::validate(const QString &email, const QString &password)
{
    // A local part without white space or "@", an "@", then at least two dot-separated labels.
    static const QRegularExpression pattern(QStringLiteral("^[^\\s@]+@[^\\s@.]+(?:\\.[^\\s@.]+)+$"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    const QString trimmed = Text::trimmed(email, Text::CharSet::whitespacesAndNewlines);
    if (!pattern.match(trimmed).hasMatch())
        throw AuthError::validation(QStringLiteral("请输入有效的邮箱地址。"));
    // Counted as the user sees characters, untrimmed: six spaces are a valid password.
    if (Text::characterCount(password) < SupabaseConfig::minimumPasswordLength)
        throw AuthError::validation(QStringLiteral("密码至少需要 %1 位。").arg(SupabaseConfig::minimumPasswordLength));
}

std::optional<AuthSession> AuthService::decodeSession(const QByteArray &body, double now)
{
    try {
        return readSession(body, now);
    } catch (const JsonError &) {
        return std::nullopt;
    }
}

std::optional<AuthSession> AuthService::readSession(const QByteArray &body, double now)
{
    // Every field is optional, but one of the wrong type makes the whole reply unreadable.
    const JsonReader reply(StrictJson::parseObject(body));
    const std::optional<QString> accessToken = reply.optionalString(u"access_token");
    const std::optional<QString> refreshToken = reply.optionalString(u"refresh_token");
    const std::optional<double> expiresAt = reply.optionalNumber(u"expires_at");
    const std::optional<double> expiresIn = reply.optionalNumber(u"expires_in");
    const std::optional<QJsonObject> userObject = reply.optionalObject(u"user");
    std::optional<QString> userId;
    std::optional<QString> email;
    if (userObject) {
        const JsonReader user(*userObject, reply.childPath(u"user"));
        userId = user.optionalString(u"id");
        email = user.optionalString(u"email");
    }
    if (!accessToken || !refreshToken || !userId)
        return std::nullopt;

    AuthSession session;
    session.userId = *userId;
    session.accessToken = *accessToken;
    session.refreshToken = *refreshToken;
    session.email = email;
    session.expiresAt = expiresAt ? *expiresAt : now + expiresIn.value_or(3600.0);
    return session;
}

QString AuthService::errorMessage(const QByteArray &body)
{
    try {
        const JsonReader reply(StrictJson::parseObject(body));
        // Read all four first: one of the wrong type makes the reply unreadable.
        const std::optional<QString> candidates[] = {
            reply.optionalString(u"error_description"),
            reply.optionalString(u"msg"),
            reply.optionalString(u"message"),
            reply.optionalString(u"error"),
        };
        for (const auto &candidate : candidates)
            if (candidate)
                return candidate->toLower();
        return {};
    } catch (const JsonError &) {
        return {};
    }
}

bool AuthService::refusesKey(int status, const QString &message)
{
    return (status == 401 || status == 403)
        && (message.contains(QLatin1String("api key")) || message.contains(QLatin1String("apikey")));
}

QByteArray AuthService::requestBody(std::initializer_list<std::pair<QLatin1StringView, QString>> members)
{
    return JsonWriter::toBytes([&members](JsonWriter &body) {
        body.beginObject();
        for (const auto &[name, text] : members)
            body.member(name, text);
        body.endObject();
    });
}

QCoro::Task<AuthService::Reply> AuthService::post(std::shared_ptr<HttpSession> http, QString anonKey, QUrl url,
                                                  QByteArray body, std::optional<QString> bearer)
{
    Http::Request request;
    request.method = "POST";
    request.url = url;
    request.timeout = std::chrono::seconds(15);
    request.setHeader("Content-Type", "application/json");
    request.setHeader("apikey", anonKey.toUtf8());
    if (bearer)
        request.setHeader("Authorization", ("Bearer " + *bearer).toUtf8());
    request.body = body;

    try {
        const CancellationToken never;
        const Http::Response response = co_await http->send(std::move(request), never);
        co_return Reply{response.status.value_or(0), response.body};
    } catch (const Http::TransportError &) {
        throw AuthError::network();
    } catch (const CancelledError &) {
        throw AuthError::network();
    }
}
