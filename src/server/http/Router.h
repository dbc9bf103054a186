#pragma once

// How a route module adds its routes (one file per group, e.g. auth/AuthRoutes.cpp):
//
//   void registerThingRoutes(http::Router &router, ServerContext &context)
//   {
//       router.post("/api/thing", 64 * 1024, [&context](const httplib::Request &request, httplib::Response &response) {
//           const auto user = context.authenticate(request);
//           if (!user)
//               return http::sendUnauthorized(response);
//           const auto body = http::readJsonObject(request, response); // answers 400 itself
//           if (!body)
//               return;
//           ...
//           http::sendJson(response, 200, JsonWriter::toBytes(...));
//       });
//   }
//
// and calls it from registerAllRoutes() in app/Routes.cpp. Every handler runs on one of the pool's
// threads; it may block (database, outgoing calls) without holding up other requests. A body
// over the route's limit is refused with 413 from its Content-Length before a byte of it is
// read; a body without a Content-Length (chunked) is refused with 411 except on streamed routes,
// which count the bytes themselves. Handlers that throw answer 500 (logged without the body).

#include <httplib.h>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>

namespace server::http {

using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;
using StreamedHandler = std::function<void(const httplib::Request &, httplib::Response &, const httplib::ContentReader &)>;

class Router
{
public:
    explicit Router(httplib::Server &server) : m_server(server) {}

    void get(const std::string &path, Handler handler);
    // A body of at most maxBodyBytes, read whole into request.body before the handler runs.
    void post(const std::string &path, std::size_t maxBodyBytes, Handler handler);
    // The handler reads the body itself (or not at all), at most maxBodyBytes by Content-Length.
    void put(const std::string &path, std::size_t maxBodyBytes, StreamedHandler handler);

    struct Limit
    {
        std::size_t maxBodyBytes = 0;
        bool streamed = false;
    };
    // The body limit of a registered method and path; nothing for an unknown route.
    std::optional<Limit> limit(const std::string &method, const std::string &path) const;
    bool knows(const std::string &path) const;
    // The largest limit of any route (the server's overall payload limit).
    std::size_t largestLimit() const { return m_largest; }

private:
    using Handlers = std::unordered_map<std::string, Handler>; // by path; filled before serving
    static std::string pattern(const std::string &path);
    void remember(const std::string &method, const std::string &path, Limit limit);
    void add(Handlers &handlers, const std::string &path, Handler handler,
             httplib::Server &(httplib::Server::*registerWith)(const std::string &, httplib::Server::Handler));

    httplib::Server &m_server;
    std::map<std::pair<std::string, std::string>, Limit> m_limits;
    std::size_t m_largest = 0;
    Handlers m_get;
    Handlers m_post;
};

} // namespace server::http
