#pragma once

#include "server/outbound/OutboundHttp.h"

#include <QString>

#include <chrono>
#include <string>

namespace server {

// The open online lyrics database: GET /api/get by track, artist and duration; when that has
// no synced lyrics, GET /api/search by track and artist. Only synced lyrics count: a song the
// database has as plain text or as an instrumental is "not found".
class LrclibClient
{
public:
    struct Lookup
    {
        enum class Outcome {
            Found,
            NotFound, // the database answered and has no synced lyrics for the song
            Failed,   // no usable answer (network, time-out, 429, 5xx, malformed body): ask again later
        };
        Outcome outcome = Outcome::Failed;
        QString lyrics;
        QString problem; // for the log when Failed
    };

    // `baseUrl` is the service's origin, e.g. "https://host" (no path).
    LrclibClient(OutboundHttp &http, std::string baseUrl);

    // Every call gets at most 5 s and the whole lookup at most `budget`; a duration of 0 or
    // less is not sent. Blocks the calling thread.
    Lookup find(const QString &title, const QString &artist, double durationSeconds,
                std::chrono::milliseconds budget) const;

    static std::string userAgent();

private:
    OutboundHttp &m_http;
    std::string m_baseUrl;
};

} // namespace server
