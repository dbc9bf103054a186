#pragma once

namespace server {
namespace http { class Router; }
struct ServerContext;

// Every route of the server. A new route group is a register…Routes(router, context) function in
// its own file (see http/Router.h), called from here.
void registerAllRoutes(http::Router &router, ServerContext &context);

} // namespace server
