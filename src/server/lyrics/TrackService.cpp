#include "server/lyrics/TrackService.h"

#include "server/lyrics/LanguageDetector.h"
#include "server/content/SongKey.h"

#include "platform/JsonWriter.h"
#include "platform/Text.h"

#include <cmath>

namespace server {

namespace {

const QString trackKind = QStringLiteral("track");
const QString missKind = QStringLiteral("track-miss");
const QString manualImport = QStringLiteral("manualImport");
constexpr qsizetype maximumFieldCharacters = 256;
// Encoded answers kept: a few thousand songs, or 64 MiB (each entry holds about three copies of
// its lyrics).
constexpr std::size_t keptAnswers = 4096;
constexpr std::size_t keptAnswerBytes = 64 * 1024 * 1024;

QByteArray errorBody(const QString &message)
{
    return JsonWriter::toBytes([&](JsonWriter &writer) { writer.beginObject().member("error", message).endObject(); });
}

// The answer body, which is also what the cache keeps (with the source it was found at).
QByteArray trackBody(const QString &lyrics, const QString &source, const QString &key,
                     const std::optional<QString> &language)
{
    return JsonWriter::toBytes([&](JsonWriter &writer) {
        writer.beginObject()
            .member("lyrics", lyrics)
            .member("source", source)
            .member("songKey", key)
            .optionalMember("language", language)
            .endObject();
    });
}

// Why a title or artist is refused, or nothing when it is fine.
std::optional<QString> refusal(const std::optional<QString> &value, const char *name)
{
    const QString field = QString::fromLatin1(name);
    if (!value || Text::trimmed(*value).isEmpty())
        return field + QStringLiteral(" is required");
    if (Text::characterCount(*value) > maximumFieldCharacters)
        return field + QStringLiteral(" is longer than 256 characters");
    return std::nullopt;
}

} // namespace

TrackService::TrackService(ServerStore &store, const LrcFolderIndex *folder, const LrclibClient *online,
                           std::function<qint64()> now, Options options, Log log)
    : m_store(store), m_folder(folder), m_online(online), m_now(std::move(now)), m_options(options),
      m_log(std::move(log)), m_answers(keptAnswers, keptAnswerBytes), m_songKeys(keptAnswers, keptAnswers * 1024)
{
}

std::optional<TrackService::Answer> TrackService::read(const JsonReader &body, Song &song)
{
    const std::optional<QString> title = body.lenientString(u"title");
    const std::optional<QString> artist = body.lenientString(u"artist");
    for (const auto &problem : {refusal(title, "title"), refusal(artist, "artist")}) {
        if (problem)
            return Answer{400, errorBody(*problem)};
    }
    song.duration = body.lenientNumber(u"duration").value_or(0.0);
    song.title = Text::trimmed(*title);
    song.artist = Text::trimmed(*artist);
    song.key = songKeyOf(song.title, song.artist);
    return std::nullopt;
}

std::optional<TrackService::Answer> TrackService::answerFromMemory(const std::string &bodyBytes)
{
    const std::optional<QString> key = m_songKeys.find(bodyBytes);
    return key ? keptAnswer(*key) : std::nullopt;
}

std::optional<TrackService::Answer> TrackService::answerFromMemory(const JsonReader &body, const std::string &bodyBytes)
{
    Song song;
    if (read(body, song))
        return std::nullopt;
    m_songKeys.insert(bodyBytes, song.key, bodyBytes.size() + std::size_t(song.key.size()) * 2);
    return keptAnswer(song.key);
}

std::optional<TrackService::Answer> TrackService::keptAnswer(const QString &key)
{
    const std::optional<std::shared_ptr<const KeptAnswer>> kept = m_answers.find(key);
    if (kept && (*kept)->confirmedAt.load(std::memory_order_relaxed) == m_now() && !(*kept)->stored.empty())
        return Answer{200, (*kept)->body};
    return std::nullopt;
}

TrackService::Answer TrackService::answer(const JsonReader &body)
{
    Song song;
    if (std::optional<Answer> refused = read(body, song))
        return *refused;
    const double duration = song.duration;
    const QString &trimmedTitle = song.title;
    const QString &trimmedArtist = song.artist;
    const QString &key = song.key;

    const qint64 now = m_now();
    const std::optional<std::shared_ptr<const KeptAnswer>> kept = m_answers.find(key);
    // Cache entries are only ever added, or replaced by an import: what the cache held for a
    // song within this second (its entry, or none for an answer from the folder) still stands.
    // The folder's file is looked at on every request. (answerFromMemory() answers the first
    // case alike.)
    if (kept && (*kept)->confirmedAt.load(std::memory_order_relaxed) == now) {
        if (!(*kept)->stored.empty())
            return Answer{200, (*kept)->body};
        if (const auto match = m_folder ? m_folder->find(key) : std::nullopt; match && (*kept)->fileText == match->lyrics)
            return Answer{200, (*kept)->body};
    }
    if (const std::optional<CachedEntry> entry = m_store.cached(trackKind, key, now)) {
        if (kept && (*kept)->stored == entry->value) {
            (*kept)->confirmedAt.store(now, std::memory_order_relaxed);
            return Answer{200, (*kept)->body};
        }
        if (const auto found = fromCache(entry->value))
            return Answer{200, keepAnswer(key, entry->value, QString(), *found, now)};
    }
    if (m_folder) {
        if (const auto match = m_folder->find(key)) {
            if (kept && (*kept)->stored.empty() && (*kept)->fileText == match->lyrics) {
                (*kept)->confirmedAt.store(now, std::memory_order_relaxed);
                return Answer{200, (*kept)->body};
            }
            return Answer{200, keepAnswer(key, std::string(), match->lyrics,
                                          Found{match->lyrics, manualImport, detectLyricsLanguage(match->lyrics)}, now)};
        }
    }
    if (m_online && !m_store.cached(missKind, key, now)) {
        const Online result = online(trimmedTitle, trimmedArtist, std::isfinite(duration) ? duration : 0.0, key);
        if (result.found)
            return Answer{200, trackBody(result.found->lyrics, result.found->source, key, result.found->language)};
        if (result.failed)
            return Answer{502, errorBody(QStringLiteral("the online lyrics database did not answer; try again later"))};
    }
    return Answer{404, errorBody(QStringLiteral("no lyrics for this song"))};
}

QByteArray TrackService::keepAnswer(const QString &key, const std::string &stored, const QString &fileText,
                                    const Found &found, qint64 now)
{
    auto kept = std::make_shared<const KeptAnswer>(stored, fileText, trackBody(found.lyrics, found.source, key, found.language), now);
    m_answers.insert(key, kept, stored.size() + std::size_t(fileText.size()) * 2 + std::size_t(kept->body.size()));
    return kept->body;
}

std::optional<TrackService::Found> TrackService::fromCache(const std::string &stored)
{
    try {
        const JsonReader entry(StrictJson::parseObject(QByteArray::fromStdString(stored)));
        const QString source = entry.requireString(u"source");
        return Found{entry.requireString(u"lyrics"), source == manualImport ? manualImport : QStringLiteral("cache"),
                     entry.lenientString(u"language")};
    } catch (const JsonError &error) {
        m_log(QStringLiteral("lyrics: cached entry for a song is unreadable (%1); looking again").arg(error.message()));
        return std::nullopt;
    }
}

// One online lookup per song at a time in this process: the first request asks, the others
// wait for its result.
TrackService::Online TrackService::online(const QString &title, const QString &artist, double duration,
                                          const QString &key)
{
    std::promise<Online> promise;
    std::shared_future<Online> flight;
    {
        std::lock_guard lock(m_flightsMutex);
        const auto running = m_flights.constFind(key);
        if (running != m_flights.constEnd()) {
            flight = *running;
        } else {
            m_flights.insert(key, promise.get_future().share());
        }
    }
    if (flight.valid())
        return flight.get();

    Online found;
    try {
        found = askOnline(title, artist, duration, key);
    } catch (...) {
        // The waiters get a failure; this request reports it.
        promise.set_value(Online{std::nullopt, true});
        std::lock_guard lock(m_flightsMutex);
        m_flights.remove(key);
        throw;
    }
    promise.set_value(found);
    std::lock_guard lock(m_flightsMutex);
    m_flights.remove(key);
    return found;
}

TrackService::Online TrackService::askOnline(const QString &title, const QString &artist, double duration,
                                             const QString &key)
{
    const LrclibClient::Lookup lookup = m_online->find(title, artist, duration, m_options.onlineBudget);
    switch (lookup.outcome) {
    case LrclibClient::Lookup::Outcome::Found: {
        Found found{lookup.lyrics, QStringLiteral("lrclib"), detectLyricsLanguage(lookup.lyrics)};
        remember(trackKind, key, trackBody(found.lyrics, found.source, key, found.language).toStdString(), std::nullopt);
        return Online{found, false};
    }
    case LrclibClient::Lookup::Outcome::NotFound:
        remember(missKind, key, std::string(), m_now() + m_options.missLifetime.count());
        return Online{};
    case LrclibClient::Lookup::Outcome::Failed:
        m_log(QStringLiteral("lyrics: online lookup failed (%1); not remembered").arg(lookup.problem));
        return Online{std::nullopt, true};
    }
    return Online{};
}

// Lyrics already in hand are answered even when the database cannot keep them; the next
// request asks again.
void TrackService::remember(const QString &kind, const QString &key, const std::string &value,
                            std::optional<qint64> expiresAt)
{
    try {
        m_store.putCached(kind, key, value, m_now(), expiresAt);
    } catch (const StoreError &error) {
        m_log(QStringLiteral("lyrics: cannot keep a lookup's result: %1").arg(QString::fromUtf8(error.what())));
    }
}

} // namespace server
