#include "server/content/ContentRoutes.h"

#include "server/http/Replies.h"
#include "server/http/Router.h"
#include "server/http/ServerContext.h"

#include "core/NowPlayingTrack.h"
#include "platform/Text.h"

namespace server {
namespace {

using Request = httplib::Request;
using Response = httplib::Response;

constexpr std::size_t songBodyLimit = 256 * 1024; // lyrics travel with the cards request
constexpr qsizetype maximumFieldCharacters = 256;

// The song a request names, or nothing after a 400 answer.
std::optional<QString> songKeyFromBody(const Request &request, Response &response, bool needsLyrics)
{
    const auto body = http::readJsonObject(request, response);
    if (!body)
        return std::nullopt;
    const auto title = body->lenientString(u"title");
    const auto artist = body->lenientString(u"artist");
    const auto lyrics = body->lenientString(u"lyrics");
    const bool valid = title && artist && !Text::trimmed(*title).isEmpty() && !Text::trimmed(*artist).isEmpty()
        && Text::characterCount(*title) <= maximumFieldCharacters
        && Text::characterCount(*artist) <= maximumFieldCharacters
        && (!needsLyrics || (lyrics && !Text::trimmed(*lyrics).isEmpty()));
    if (!valid) {
        http::sendError(response, 400,
                        {{"error", needsLyrics ? QStringLiteral("title, artist and lyrics are required")
                                               : QStringLiteral("title and artist are required")}});
        return std::nullopt;
    }
    return songKeyOf(*title, *artist);
}

// One content route: authenticated, the cached answer of kind `kind`, or `missing`.
http::Handler contentRoute(ServerContext &context, const char *kind, bool needsLyrics, void (*missing)(Response &))
{
    return [&context, kind, needsLyrics, missing](const Request &request, Response &response) {
        if (!context.authenticate(request))
            return http::sendUnauthorized(response);
        const std::optional<QString> key = songKeyFromBody(request, response, needsLyrics);
        if (!key)
            return;
        const std::optional<CachedEntry> entry = context.store.cached(QString::fromLatin1(kind), *key, context.now());
        if (!entry)
            return missing(response);
        response.status = 200;
        response.set_content(entry->value, "application/json");
    };
}

} // namespace

QString songKeyOf(const QString &title, const QString &artist)
{
    NowPlayingTrack track;
    track.title = title;
    track.artist = artist;
    return track.songKey();
}

void registerContentRoutes(http::Router &router, ServerContext &context)
{
    // Cards are written by a language model; without one a song the cache lacks fails as a
    // failed generation does.
    router.post("/api/cards", songBodyLimit, contentRoute(context, "cards", true, [](Response &response) {
                    http::sendError(response, 502, {{"error", QStringLiteral("no cards for this song")},
                                                    {"category", QStringLiteral("upstream_error")}});
                }));
    router.post("/api/story", songBodyLimit, contentRoute(context, "story", false, [](Response &response) {
                    http::sendError(response, 404, {{"error", QStringLiteral("no story for this song")}});
                }));
}

} // namespace server
