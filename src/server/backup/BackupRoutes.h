#pragma once

namespace server {
namespace http { class Router; }
struct ServerContext;

// PUT and GET /api/backup?namespace=…: one opaque document per user and namespace.
void registerBackupRoutes(http::Router &router, ServerContext &context);

} // namespace server
