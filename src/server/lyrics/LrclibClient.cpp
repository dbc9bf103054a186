#include "server/lyrics/LrclibClient.h"

#include "core/LrcParser.h"
#include "core/TextMatching.h"
#include "platform/StrictJson.h"

#include <QUrl>

#include <cmath>
#include <optional>

namespace server {

namespace {

using Clock = std::chrono::steady_clock;
using Lookup = LrclibClient::Lookup;

constexpr std::chrono::milliseconds callLimit{5000};
constexpr std::size_t answerLimit = 2 * 1024 * 1024;
constexpr double durationTolerance = 2.0;
// Where the service's operators can read what is calling them, as they ask every client to say.
constexpr const char *projectAddress = "https://cantorella.app";

std::string encoded(const QString &value)
{
    return QUrl::toPercentEncoding(value).toStdString();
}

Lookup failed(const char *call, const QString &problem)
{
    return Lookup{Lookup::Outcome::Failed, {}, QString::fromLatin1(call) + QStringLiteral(": ") + problem};
}

QString describe(const OutboundResponse &response)
{
    using Failure = OutboundResponse::Failure;
    switch (response.failure) {
    case Failure::None: return QStringLiteral("HTTP %1").arg(response.status);
    case Failure::Timeout: return QStringLiteral("timed out");
    case Failure::TooLarge: return QStringLiteral("answer larger than 2 MiB");
    case Failure::Redirect: return QStringLiteral("redirected (not followed)");
    case Failure::Network: return QStringLiteral("network: ") + QString::fromStdString(response.error);
    }
    return {};
}

// The synced lyrics of one record of the database, when it has any with a timed line.
std::optional<QString> syncedLyrics(const JsonReader &record)
{
    if (record.lenientBool(u"instrumental").value_or(false))
        return std::nullopt;
    const std::optional<QString> lyrics = record.lenientString(u"syncedLyrics");
    if (!lyrics || LRCParser::parse(*lyrics).isEmpty())
        return std::nullopt;
    return lyrics;
}

// Search is by words, so its records may name other songs: a record counts when its names hold
// the asked-for names (in matching form; "Song (Live)" holds "song") and, when a duration was
// asked for, its own lies within the tolerance.
bool recordMatches(const JsonReader &record, const QString &title, const QString &artist, double duration)
{
    const auto trackName = record.lenientString(u"trackName");
    const auto artistName = record.lenientString(u"artistName");
    if (!trackName || !artistName)
        return false;
    if (!normalizeForMatching(*trackName).contains(normalizeForMatching(title))
        || !normalizeForMatching(*artistName).contains(normalizeForMatching(artist)))
        return false;
    if (duration <= 0)
        return true;
    const auto recordDuration = record.lenientNumber(u"duration");
    return recordDuration && std::abs(*recordDuration - duration) <= durationTolerance;
}

} // namespace

LrclibClient::LrclibClient(OutboundHttp &http, std::string baseUrl) : m_http(http), m_baseUrl(std::move(baseUrl))
{
    while (!m_baseUrl.empty() && m_baseUrl.back() == '/')
        m_baseUrl.pop_back();
}

std::string LrclibClient::userAgent()
{
    return std::string("cantorella-server/") + CANTORELLA_VERSION + " (" + projectAddress + ")";
}

LrclibClient::Lookup LrclibClient::find(const QString &title, const QString &artist, double durationSeconds,
                                        std::chrono::milliseconds budget) const
{
    const Clock::time_point deadline = Clock::now() + budget;
    const auto call = [&](const std::string &pathAndQuery) -> std::optional<OutboundResponse> {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left < std::chrono::milliseconds(50))
            return std::nullopt;
        OutboundRequest request;
        request.url = m_baseUrl + pathAndQuery;
        request.headers = {{"User-Agent", userAgent()}, {"Accept", "application/json"}};
        request.totalTimeoutMs = long(std::min(left, callLimit).count());
        request.connectTimeoutMs = std::min(request.connectTimeoutMs, request.totalTimeoutMs);
        request.maxResponseBytes = answerLimit;
        return m_http.send(request);
    };

    std::string getQuery = "/api/get?track_name=" + encoded(title) + "&artist_name=" + encoded(artist);
    if (durationSeconds > 0)
        getQuery += "&duration=" + std::to_string(std::llround(durationSeconds));
    const auto got = call(getQuery);
    if (!got)
        return failed("get", QStringLiteral("no time left"));
    if (got->failure != OutboundResponse::Failure::None || (got->status != 200 && got->status != 404))
        return failed("get", describe(*got));
    if (got->status == 200) {
        try {
            if (auto lyrics = syncedLyrics(JsonReader(StrictJson::parseObject(QByteArray::fromStdString(got->body)))))
                return Lookup{Lookup::Outcome::Found, *lyrics, {}};
        } catch (const JsonError &error) {
            return failed("get", error.message());
        }
    }

    const auto searched = call("/api/search?track_name=" + encoded(title) + "&artist_name=" + encoded(artist));
    if (!searched)
        return failed("search", QStringLiteral("no time left"));
    if (searched->failure != OutboundResponse::Failure::None || searched->status != 200)
        return failed("search", describe(*searched));
    try {
        const QJsonArray records = StrictJson::parseArray(QByteArray::fromStdString(searched->body));
        for (const QJsonValue &value : records) {
            const JsonReader record(value.toObject());
            if (!value.isObject() || !recordMatches(record, title, artist, durationSeconds))
                continue;
            if (auto lyrics = syncedLyrics(record))
                return Lookup{Lookup::Outcome::Found, *lyrics, {}};
        }
    } catch (const JsonError &error) {
        return failed("search", error.message());
    }
    return Lookup{Lookup::Outcome::NotFound, {}, {}};
}

} // namespace server
