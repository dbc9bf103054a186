#include "backend/AuthSession.h"

#include "platform/JsonWriter.h"
#include "platform/StrictJson.h"

QByteArray AuthSession::toJson() const
{
    return JsonWriter::toBytes([this](JsonWriter &object) {
        object.beginObject();
        object.member("userId", userId);
        object.member("accessToken", accessToken);
        object.member("refreshToken", refreshToken);
        object.member("expiresAt", expiresAt); // a non-finite time throws JsonError
        object.optionalMember("email", email);
        object.endObject();
    });
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
