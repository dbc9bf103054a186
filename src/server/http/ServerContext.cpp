#include "server/http/ServerContext.h"

#include "server/auth/AccessTokens.h"
#include "server/auth/SignInCheck.h"

namespace server {

std::optional<std::string> bearerToken(const http::Request &request)
{
    const std::string header = request.header("Authorization");
    static const std::string prefix = "Bearer ";
    if (header.size() <= prefix.size() || header.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    return header.substr(prefix.size());
}

namespace {

// The claims of the request's bearer token, when it is ours and not expired.
std::optional<AccessClaims> claimsOf(const ServerContext &context, const http::Request &request)
{
    const std::optional<std::string> token = bearerToken(request);
    if (!token)
        return std::nullopt;
    return context.tokens.verify(*token, context.now());
}

} // namespace

std::optional<QString> ServerContext::authenticateFromMemory(const http::Request &request) const
{
    if (!signIns)
        return std::nullopt;
    const std::optional<AccessClaims> claims = claimsOf(*this, request);
    if (!claims || !signIns->knownActive(claims->signInId, claims->userId))
        return std::nullopt;
    return claims->userId;
}

std::optional<QString> ServerContext::authenticate(const http::Request &request) const
{
    const std::optional<AccessClaims> claims = claimsOf(*this, request);
    if (!claims)
        return std::nullopt;
    if (signIns) {
        if (!signIns->active(claims->signInId, claims->userId))
            return std::nullopt;
    } else {
        const std::optional<SignInRecord> signIn = store.signIn(claims->signInId);
        if (!signIn || signIn->revoked || signIn->userId != claims->userId)
            return std::nullopt;
    }
    return claims->userId;
}

void ServerContext::revokeSignIn(const QString &signInId) const
{
    store.revokeSignIn(signInId, now());
    if (signIns)
        signIns->forget(signInId);
}

std::string ServerContext::clientAddress(const http::Request &request) const
{
    if (config.trustProxy) {
        const std::string forwarded = request.header("X-Forwarded-For");
        const std::size_t comma = forwarded.rfind(',');
        std::string last = comma == std::string::npos ? forwarded : forwarded.substr(comma + 1);
        const auto first = last.find_first_not_of(' ');
        if (first != std::string::npos)
            return last.substr(first, last.find_last_not_of(' ') - first + 1);
    }
    return request.remoteAddress;
}

} // namespace server
