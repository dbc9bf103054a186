#pragma once

#include <QString>

namespace server {
namespace http { class Router; }
struct ServerContext;

// POST /api/cards and /api/story answered from the content cache (the seeded demo
// songs): the stored answer body of the song, or the status each client reads as "none".
void registerContentRoutes(http::Router &router, ServerContext &context);

// The song key of a title and an artist: artist and title trimmed and lower-cased, joined by '|'.
QString songKeyOf(const QString &title, const QString &artist);

} // namespace server
