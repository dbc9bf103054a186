#pragma once

#include "server/config/Secrets.h"
#include "server/config/ServerConfig.h"
#include "server/http/Message.h"
#include "server/store/ServerStore.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace server {

class AccessTokens;
class ContentServices;
class Mailer;
class SignInCheck;
class TrackService;

// What every route handler may use. Shared by all request threads: everything here is either
// immutable or safe to call concurrently.
struct ServerContext
{
    ServerStore &store;
    const ServerConfig &config;
    const Secrets &secrets;
    const AccessTokens &tokens;
    Mailer &mailer;
    std::function<qint64()> now; // seconds since 1970, UTC
    QString publicOrigin;        // scheme://host:port of links the server hands out
    ContentServices *generation = nullptr; // cards and stories (cached, or written by the model)
    TrackService *tracks = nullptr; // POST /api/track; none: the route is not offered
    SignInCheck *signIns = nullptr; // kept answers of the sign-in check; none: the database every time

    // The user named by "Authorization: Bearer <access token>" when the token is ours, not
    // expired, and its sign-in is not revoked (checked in the database, whose answer `signIns`
    // keeps for half a second: a logout on any process holds on all within that).
    std::optional<QString> authenticate(const http::Request &request) const;
    // The same user when authenticate() would find it without asking the database (its sign-in
    // was confirmed active within the kept answer's time); nothing otherwise, whatever the reason.
    std::optional<QString> authenticateFromMemory(const http::Request &request) const;
    // Ends a sign-in: no token of it works any longer (see authenticate()).
    void revokeSignIn(const QString &signInId) const;

    // The client's address for abuse limits: the peer, or with trust-proxy the address the
    // proxy appended last to X-Forwarded-For.
    std::string clientAddress(const http::Request &request) const;
};

// The bearer token of an "Authorization" header, or nothing.
std::optional<std::string> bearerToken(const http::Request &request);

} // namespace server
