#pragma once

#include "server/http/ConnectionStream.h"
#include "server/http/Router.h"

#include <httplib.h>

#include <memory>
#include <string>

namespace server {

struct ServerConfig;

// The HTTP side of the server: a cpp-httplib server with the configured thread pool, time-outs
// and keep-alive limits, body limits checked before reading, and one access-log line per
// request ("GET /api/backup?namespace 200 3ms 1234B": the route, query names without values).
class HttpService
{
public:
    explicit HttpService(const ServerConfig &config);

    http::Router &router() { return m_router; }

    // Binds the listening socket; answers the port (the real one when 0 was asked), or -1.
    // Routes may still be added until serve().
    int bind(const std::string &host, int port);
    // Serves until stop(); false when it could not serve at all.
    bool serve();
    // Stops accepting; requests in flight finish, then serve() returns. Any thread.
    void stop() { m_server.stopServing(); }

private:
    http::ConnectionServer m_server;
    http::Router m_router;
    socket_t m_listening = INVALID_SOCKET;
};

} // namespace server
