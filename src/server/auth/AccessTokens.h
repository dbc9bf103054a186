#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>

namespace server {

struct AccessClaims
{
    QString userId;   // "sub"
    QString signInId; // "sid": the sign-in the token belongs to; revoking it voids the token
    qint64 expiresAt = 0;
};

// Access tokens: HS256 JSON Web Tokens carrying the user and the sign-in, valid for a fixed
// lifetime. Thread-safe (no state besides the key).
class AccessTokens
{
public:
    AccessTokens(std::string key, qint64 lifetimeSeconds);

    struct Issued
    {
        std::string token;
        qint64 expiresAt = 0;
    };
    Issued issue(const QString &userId, const QString &signInId, qint64 now) const;

    // The claims of a token signed with our key, with HS256 and the claims present; with
    // `allowExpired` false also not past its expiry. Anything else gives nothing.
    std::optional<AccessClaims> verify(const std::string &token, qint64 now, bool allowExpired = false) const;

    qint64 lifetimeSeconds() const { return m_lifetime; }

private:
    std::string m_key;
    qint64 m_lifetime;
};

// A refresh or e-mail token as the database keeps it: BLAKE2b-256 of the token, hex.
QByteArray tokenHash(const std::string &token);

} // namespace server
