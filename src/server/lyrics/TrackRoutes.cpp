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
        // A song this process answered from the cache within this second, for a sign-in it saw
        // active within the last moment: everything else goes to the handler.
        [&context, &tracks](const http::Request &request, http::Reply &response) {
            if (!context.authenticateFromMemory(request))
                return false;
            const auto body = http::readJsonObject(request, response);
            if (!body)
                return false;
            const std::optional<TrackService::Answer> answer = tracks.answerFromMemory(*body);
            if (!answer)
                return false;
            http::sendJson(response, answer->status, answer->body);
            return true;
        });
}

} // namespace server
