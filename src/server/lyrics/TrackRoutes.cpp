#include "server/lyrics/TrackRoutes.h"

#include "server/config/ServerConfig.h"
#include "server/http/Log.h"
#include "server/http/Replies.h"
#include "server/http/Router.h"
#include "server/http/ServerContext.h"

#include <QElapsedTimer>

namespace server {

namespace {

// Title and artist are at most 256 characters each, but a character may carry any number of
// combining marks; this leaves room for them without reading a large body.
constexpr std::size_t trackBodyLimit = 64 * 1024;
constexpr std::chrono::minutes folderRescan{1};

} // namespace

LyricsLookup::LyricsLookup(const ServerConfig &config, ServerStore &store, std::function<qint64()> now)
{
    if (!config.lyricsFolder.isEmpty()) {
        QElapsedTimer timer;
        timer.start();
        m_folder = std::make_unique<LrcFolderIndex>(config.lyricsFolder, logLine);
        const LrcFolderIndex::ScanReport report = m_folder->rescan();
        logLine(QStringLiteral("lyrics folder: %1 songs from %2 indexed in %3 ms (%4 files skipped)")
                    .arg(report.indexed)
                    .arg(m_folder->folder())
                    .arg(timer.elapsed())
                    .arg(report.skipped));
        m_folder->watch(folderRescan);
    }
    if (!config.noOnline)
        m_online = std::make_unique<LrclibClient>(m_http, config.lrclibUrl.toStdString());
    TrackService::Options options;
    options.missLifetime = std::chrono::seconds(config.lyricsMissSeconds);
    m_service = std::make_unique<TrackService>(store, m_folder.get(), m_online.get(), std::move(now), options, logLine);
}

void registerTrackRoutes(http::Router &router, ServerContext &context, TrackService &tracks)
{
    router.post(
        "/api/track", trackBodyLimit,
        [&context, &tracks](const http::Request &request, http::Reply &response) {
            if (!context.authenticate(request))
                return http::sendUnauthorized(response);
            const auto body = http::readJsonObject(request, response);
            if (!body)
                return;
            const TrackService::Answer answer = tracks.answer(*body);
            http::sendJson(response, answer.status, answer.body);
        },
        // For a sign-in this process saw active within the kept time: a song it answered from
        // the cache within this second, and a body that is no JSON object. The rest of a signed-in
        // request goes to a worker with its body read; everything else to the handler.
        [&context, &tracks](const http::Request &request, http::Reply &response, http::Handler &rest) {
            if (!context.authenticateFromMemory(request))
                return false;
            if (const std::optional<TrackService::Answer> answer = tracks.answerFromMemory(request.body)) {
                http::sendJson(response, answer->status, answer->body);
                return true;
            }
            std::optional<JsonReader> body = http::readJsonObject(request, response);
            if (!body)
                return true;
            if (const std::optional<TrackService::Answer> answer = tracks.answerFromMemory(*body, request.body)) {
                http::sendJson(response, answer->status, answer->body);
                return true;
            }
            rest = [&tracks, body = std::move(*body)](const http::Request &, http::Reply &response) {
                const TrackService::Answer answer = tracks.answer(body);
                http::sendJson(response, answer.status, answer.body);
            };
            return false;
        });
}

} // namespace server
