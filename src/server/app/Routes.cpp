#include "server/app/Routes.h"

#include "server/auth/AuthRoutes.h"
#include "server/backup/BackupRoutes.h"
#include "server/http/HealthCheck.h"
#include "server/http/Replies.h"
#include "server/http/Router.h"
#include "server/http/ServerContext.h"
#include "server/llm/GenerationRoutes.h"
#include "server/lyrics/TrackRoutes.h"

#include <memory>

namespace server {

void registerAllRoutes(http::Router &router, ServerContext &context)
{
    // For load balancers and monitors: 200 while the database answers.
    auto health = std::make_shared<HealthCheck>([&context] { return context.store.ping(); });
    static const QByteArray healthy = R"({"status":"ok"})";
    router.get(
        "/healthz",
        [health](const http::Request &, http::Reply &response) {
            if (health->healthy())
                http::sendJson(response, 200, healthy);
            else
                http::sendError(response, 503, {{"error", QStringLiteral("the database does not answer")}});
        },
        [health](const http::Request &, http::Reply &response, http::Handler &) {
            if (!health->knownHealthy())
                return false;
            http::sendJson(response, 200, healthy);
            return true;
        });
    registerAuthRoutes(router, context);
    registerBackupRoutes(router, context);
    if (context.generation)
        registerGenerationRoutes(router, context, *context.generation);
    if (context.tracks)
        registerTrackRoutes(router, context, *context.tracks);
}

} // namespace server
