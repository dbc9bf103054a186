#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The signed-in user's tokens, as the hosted authentication service issued them.
struct AuthSession
{
    QString userId;
    QString accessToken;
    QString refreshToken;
    double expiresAt = 0; // expiry of accessToken, seconds since 1970-01-01 UTC
    std::optional<QString> email;

    // True from `leeway` seconds before the real expiry on: expiresAt - leeway <= now.
    bool isExpired(double now, double leeway) const { return expiresAt - leeway <= now; }

    // The stored form: {"userId","accessToken","refreshToken","expiresAt","email"}, "email"
    // left out when absent. Reading requires the first four with their JSON types; anything
    // else gives nothing.
    QByteArray toJson() const;
    static std::optional<AuthSession> fromJson(const QByteArray &bytes);

    friend bool operator==(const AuthSession &, const AuthSession &) = default;
};
