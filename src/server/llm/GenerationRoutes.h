#pragma once

#include <memory>

namespace server {
namespace http { class Router; }
class ContentServices;
class ServerStore;
struct Secrets;
struct ServerConfig;
struct ServerContext;

// POST /api/cards and POST /api/story for signed-in users, answered by `services`: cached
// answers (the seeded demo songs among them) at once, new songs written by the language model,
// 502 (upstream_error) for new songs when no model is configured. A body that is not UTF-8 is refused (400).
void registerGenerationRoutes(http::Router &router, ServerContext &context, ContentServices &services);

// The cards and story services the configuration asks for: a chat-completions model over
// libcurl when llm-url is set (its prompts read now, so a missing file stops the start), else
// none, and the server says so in its log.
std::unique_ptr<ContentServices> makeContentServices(const ServerConfig &config, const Secrets &secrets,
                                                     ServerStore &store);

} // namespace server
