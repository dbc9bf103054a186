#include "server/auth/AccessTokens.h"

#include <jwt.h>
#include <sodium.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace server {
namespace {

using JwtPointer = std::unique_ptr<jwt_t, decltype(&jwt_free)>;

} // namespace

AccessTokens::AccessTokens(std::string key, qint64 lifetimeSeconds)
    : m_key(std::move(key))
    , m_lifetime(lifetimeSeconds)
{
}

AccessTokens::Issued AccessTokens::issue(const QString &userId, const QString &signInId, qint64 now) const
{
    jwt_t *raw = nullptr;
    if (jwt_new(&raw) != 0)
        throw std::runtime_error("jwt_new failed");
    const JwtPointer jwt(raw, jwt_free);
    const qint64 expiresAt = now + m_lifetime;
    const bool ok = jwt_add_grant(raw, "sub", userId.toUtf8().constData()) == 0
        && jwt_add_grant(raw, "sid", signInId.toUtf8().constData()) == 0
        && jwt_add_grant(raw, "aud", "authenticated") == 0
        && jwt_add_grant(raw, "role", "authenticated") == 0
        && jwt_add_grant_int(raw, "iat", long(now)) == 0 && jwt_add_grant_int(raw, "exp", long(expiresAt)) == 0
        && jwt_set_alg(raw, JWT_ALG_HS256, reinterpret_cast<const unsigned char *>(m_key.data()), int(m_key.size())) == 0;
    char *text = ok ? jwt_encode_str(raw) : nullptr;
    if (!text)
        throw std::runtime_error("cannot sign an access token");
    Issued issued{text, expiresAt};
    std::free(text);
    return issued;
}

std::optional<AccessClaims> AccessTokens::verify(const std::string &token, qint64 now, bool allowExpired) const
{
    if (token.empty() || token.size() > 4096)
        return std::nullopt;
    std::optional<AccessClaims> claims = m_verified.find(token);
    if (!claims) {
        claims = decode(token);
        if (!claims)
            return std::nullopt;
        m_verified.insert(token, *claims, token.size() + std::size_t(claims->userId.size() + claims->signInId.size()) * 2);
    }
    if (!allowExpired && now >= claims->expiresAt)
        return std::nullopt;
    return claims;
}

// The claims of a token signed with our key and HS256, with every claim present; expired or not.
std::optional<AccessClaims> AccessTokens::decode(const std::string &token) const
{
    jwt_t *raw = nullptr;
    if (jwt_decode(&raw, token.c_str(), reinterpret_cast<const unsigned char *>(m_key.data()), int(m_key.size())) != 0
        || !raw)
        return std::nullopt;
    const JwtPointer jwt(raw, jwt_free);
    // The algorithm is ours to choose, never the token's ("none" or another key type).
    if (jwt_get_alg(raw) != JWT_ALG_HS256)
        return std::nullopt;
    const char *sub = jwt_get_grant(raw, "sub");
    const char *sid = jwt_get_grant(raw, "sid");
    errno = 0;
    const long expiresAt = jwt_get_grant_int(raw, "exp");
    if (!sub || !sid || errno != 0 || expiresAt <= 0)
        return std::nullopt;
    return AccessClaims{QString::fromUtf8(sub), QString::fromUtf8(sid), qint64(expiresAt)};
}

QByteArray tokenHash(const std::string &token)
{
    unsigned char hash[crypto_generichash_BYTES];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char *>(token.data()), token.size(), nullptr, 0);
    return QByteArray(reinterpret_cast<const char *>(hash), sizeof hash).toHex();
}

} // namespace server
