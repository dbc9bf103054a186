#include "backend/AuthSession.h"

#include "platform/StrictJson.h"

QByteArray AuthSession::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("userId"), userId);
    object.insert(QStringLiteral("accessToken"), accessToken);
    object.insert(QStringLiteral("refreshToken"), refreshToken);
    StrictJson::insertNumber(object, QStringLiteral("expiresAt"), expiresAt);
    StrictJson::insertOptional(object, QStringLiteral("email"), email);
    return StrictJson::serialize(object);
}

std::optional<AuthSession> AuthSession::fromJson(const QByteArray &bytes)
{
    try {
        const JsonReader reader(StrictJson::parseObject(bytes));
        AuthSession session;
        session.userId = reader.requireString(u"userId");
        session.accessToken = reader.requireString(u"accessToken");
        session.refreshToken = reader.requireString(u"refreshToken");
        session.expiresAt = reader.requireNumber(u"expiresAt");
        session.email = reader.optionalString(u"email");
        return session;
    } catch (const JsonError &) {
        return std::nullopt;
    }
}
