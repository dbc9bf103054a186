#pragma once

#include "server/http/Router.h"

#include <memory>
#include <string>

namespace server {

struct ServerConfig;

// The HTTP side of the server: an event-driven HTTP/1.1 server (Boost.Beast on Boost.Asio) with
// one event loop per core on I/O threads that never block, and the route handlers on a bounded
// worker pool (a full pool answers 503 with Retry-After at once; the worker sends a short answer
// itself). Request heads within the header time-out, bodies
// at a minimum rate, idle kept-alive connections closed after their time-out, at most
// max-connections open and max-connections-per-address from one peer (the connection with least
// progress is closed to make room, see ConnectionTable). One access-log line per
// request ("GET /api/backup?namespace 200 3ms 1234B": the route, query names without values).
class HttpService
{
public:
    explicit HttpService(const ServerConfig &config);
    ~HttpService();
    HttpService(const HttpService &) = delete;
    HttpService &operator=(const HttpService &) = delete;

    http::Router &router();

    // Binds the listening socket; answers the port (the real one when 0 was asked), or -1.
    // Routes may still be added until serve().
    int bind(const std::string &host, int port);
    // Serves until stop(); false when it could not serve at all.
    bool serve();
    // Stops accepting and closes the connections waiting for a request; requests in flight
    // finish, then serve() returns. Any thread.
    void stop();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace server
