#pragma once

#include "server/content/BoundedCache.h"

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
// lifetime. Thread-safe. Besides the key it keeps only the claims of tokens whose signature it
// checked (a token's bytes decide its claims for good; its expiry is still checked on every
// call), so that a client's every request does not decode and sign its token again.
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
    std::optional<AccessClaims> decode(const std::string &token) const;

    std::string m_key;
    qint64 m_lifetime;
    mutable BoundedCache<std::string, AccessClaims> m_verified{4096, 8 * 1024 * 1024};
};

// A refresh or e-mail token as the database keeps it: BLAKE2b-256 of the token, hex.
QByteArray tokenHash(const std::string &token);

} // namespace server
