#pragma once

// How a route module adds its routes (one file per group, e.g. auth/AuthRoutes.cpp):
//
//   void registerThingRoutes(http::Router &router, ServerContext &context)
//   {
//       router.post("/api/thing", 64 * 1024, [&context](const http::Request &request, http::Reply &response) {
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
// and calls it from registerAllRoutes() in app/Routes.cpp. Every handler runs on one of the worker
// pool's threads; it may block (database, outgoing calls) without holding up other requests. A
// route may also give a quick handler, which answers from memory on the I/O thread when it can
// and so spares the request the hand-off to a worker and back (see QuickHandler). A body
// over the route's limit is refused with 413 from its Content-Length before a byte of it is
// read; a body without a Content-Length (chunked) is refused with 411 except on streamed routes,
// which count the bytes themselves. Handlers that throw answer 500 (logged without the body).

#include "server/http/Message.h"

#include <cstddef>
#include <map>
#include <string>
#include <utility>

namespace server::http {

class Router
{
public:
    // `quick`, when given, is tried first on the I/O thread (see QuickHandler).
    void get(const std::string &path, Handler handler, QuickHandler quick = {});
    // A body of at most maxBodyBytes, read whole into request.body before the handler runs.
    void post(const std::string &path, std::size_t maxBodyBytes, Handler handler, QuickHandler quick = {});
    // The handler takes the body in pieces as it arrives (or not at all), at most maxBodyBytes by
    // Content-Length (see BodyIntake).
    void put(const std::string &path, std::size_t maxBodyBytes, StreamedHandler handler);

    struct Route
    {
        std::size_t maxBodyBytes = 0;
        bool streamed = false;
        Handler handler;           // when not streamed
        StreamedHandler streamedHandler; // when streamed
        QuickHandler quick;        // may be empty
    };
    // The route of a method and path (HEAD: the GET route); nothing for an unknown one.
    const Route *find(const std::string &method, const std::string &path) const;
    bool knows(const std::string &path) const;
    // The largest limit of any route (the server's overall payload limit).
    std::size_t largestLimit() const { return m_largest; }

private:
    void add(const std::string &method, const std::string &path, Route route);

    std::map<std::pair<std::string, std::string>, Route, std::less<>> m_routes; // by (method, path)
    std::map<std::string, int, std::less<>> m_paths; // routes per path
    std::size_t m_largest = 0;
};

} // namespace server::http
