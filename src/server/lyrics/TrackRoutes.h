#pragma once

#include "server/lyrics/LrcFolderIndex.h"
#include "server/lyrics/LrclibClient.h"
#include "server/lyrics/TrackService.h"
#include "server/outbound/CurlHttp.h"

#include <functional>
#include <memory>

namespace server {

namespace http { class Router; }
struct ServerConfig;
struct ServerContext;

// The lyrics lookup as the configuration asks for it: the LRC folder (scanned now, then once a
// minute) when lyrics-dir is set, the online database unless no-online.
class LyricsLookup
{
public:
    LyricsLookup(const ServerConfig &config, ServerStore &store, std::function<qint64()> now);

    TrackService &service() { return *m_service; }

private:
    CurlHttp m_http;
    std::unique_ptr<LrcFolderIndex> m_folder;
    std::unique_ptr<LrclibClient> m_online;
    std::unique_ptr<TrackService> m_service;
};

// POST /api/track {"title", "artist", "duration"?, "targetLanguage"?} for a signed-in user:
// 200 {"lyrics", "source", "songKey", "language"?}, 400 for a title or artist the desktop
// client would refuse too, 404 when no source has synced lyrics.
void registerTrackRoutes(http::Router &router, ServerContext &context, TrackService &tracks);

} // namespace server
