#include "server/llm/ContentRoutes.h"

#include "server/llm/ContentServices.h"

#include <httplib.h>

namespace server {

namespace {

// 64 KiB of lyrics, every character escaped at worst as \uXXXX, plus title and artist.
constexpr std::size_t maxBodyBytes = ContentServices::maxLyricsBytes * 6 + 16 * 1024;

void answer(httplib::Response &response, const Reply &reply)
{
    response.status = reply.status;
    response.set_content(reply.body, "application/json");
}

} // namespace

void mountContentRoutes(httplib::Server &http, ContentServices &services, UserResolver userOf)
{
    const auto route = [&services, userOf](Reply (ContentServices::*serve)(const std::string &, const QString &)) {
        return [&services, userOf, serve](const httplib::Request &request, httplib::Response &response) {
            const std::optional<QString> user = userOf(request, response);
            if (!user)
                return;
            if (request.body.size() > maxBodyBytes)
                return answer(response, plainFailure(413, "request body too large"));
            answer(response, (services.*serve)(request.body, *user));
        };
    };
    http.Post("/api/cards", route(&ContentServices::cards));
    http.Post("/api/story", route(&ContentServices::story));
}

} // namespace server
