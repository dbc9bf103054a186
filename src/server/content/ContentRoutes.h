#pragma once

#include <QString>

namespace server {
namespace http { class Router; }
struct ServerContext;

// POST /api/track answered from the content cache (the seeded demo songs): the stored answer
// body of the song, or 404. (/api/cards and /api/story: llm/GenerationRoutes.h.)
void registerContentRoutes(http::Router &router, ServerContext &context);

// The song key of a title and an artist: artist and title trimmed and lower-cased, joined by '|'.
QString songKeyOf(const QString &title, const QString &artist);

} // namespace server
