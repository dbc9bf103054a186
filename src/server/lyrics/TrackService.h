#pragma once

#include "server/lyrics/LrclibClient.h"
#include "server/lyrics/LrcFolderIndex.h"
#include "server/store/ServerStore.h"
#include "server/content/BoundedCache.h"

#include "platform/StrictJson.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>

namespace server {

// The lyrics of any song, for POST /api/track. Looks, in order:
// 1. in the content cache (kind "track"): lyrics found before, answered with source "cache";
//    lyrics the operator imported there (the demo seed) keep their "manualImport";
// 2. in the operator's LRC folder: source "manualImport" (not copied into the cache: the folder
//    stays the truth, so an edited file is served as edited);
// 3. in the online database, unless it is switched off or it said "not found" for this song
//    within the last missLifetime (kind "track-miss"): source "lrclib", stored in the cache.
// Nothing found answers 404. A failed online lookup (network, time-out, 429, 5xx, malformed
// answer) answers 502 (the client shows its "try again later" state, not "no lyrics") and is
// not remembered, so the next request asks again. Requests for
// one song that arrive while its online lookup runs wait for that lookup instead of starting
// their own.
//
// The answers from the cache and the folder are kept encoded in memory (bounded), each with
// what it was made from: the cache entry's text, or the file's text, and serve only while that
// is unchanged. The file is looked at on every request; the cache at most once a second
// (entries are only added, or replaced by an import).
class TrackService
{
public:
    struct Options
    {
        std::chrono::seconds missLifetime{24 * 3600};
        // The whole online lookup (both calls); the desktop client gives up at 12 s.
        std::chrono::milliseconds onlineBudget{8000};
    };

    struct Answer
    {
        int status = 200;
        QByteArray body; // JSON
    };

    using Log = std::function<void(const QString &)>;

    // `folder` and `online` may be null (no folder configured, online lookups off).
    TrackService(ServerStore &store, const LrcFolderIndex *folder, const LrclibClient *online,
                 std::function<qint64()> now, Options options, Log log);

    // The answer to a request body: {"title", "artist", "duration"?, "targetLanguage"?}.
    // Title and artist must be strings, non-empty after trimming, at most 256 characters each
    // before trimming (400 otherwise). Throws StoreError when the database fails.
    Answer answer(const JsonReader &body);
    // The answer when it is a kept answer from the cache confirmed within the current second, as
    // answer() would give it; nothing otherwise (answer() then decides). Never blocks: no
    // database, no file. `bodyBytes`: the body as it came, remembered with the song it names.
    std::optional<Answer> answerFromMemory(const JsonReader &body, const std::string &bodyBytes);
    // The same for a body whose bytes named a song before: a client asks for its song again with
    // the same bytes, and reading them (JSON, character counts, the key) costs more than the rest
    // of the answer. Nothing for bytes not seen (or forgotten).
    std::optional<Answer> answerFromMemory(const std::string &bodyBytes);

private:
    struct Song
    {
        QString title;  // trimmed
        QString artist; // trimmed
        QString key;
        double duration = 0;
    };
    // Reads the song a request asks for into `song`; the 400 answer when it cannot.
    static std::optional<Answer> read(const JsonReader &body, Song &song);

    struct Found
    {
        QString lyrics;
        QString source;
        std::optional<QString> language;
    };

    QByteArray keepAnswer(const QString &key, const std::string &stored, const QString &fileText, const Found &found,
                          qint64 now);
    std::optional<Found> fromCache(const std::string &stored);
    // What an online lookup gave: lyrics, a definite "not found" (nothing), or a failure.
    struct Online
    {
        std::optional<Found> found;
        bool failed = false;
    };
    Online online(const QString &title, const QString &artist, double duration, const QString &key);
    Online askOnline(const QString &title, const QString &artist, double duration,
                                   const QString &key);
    void remember(const QString &kind, const QString &key, const std::string &value,
                  std::optional<qint64> expiresAt);

    ServerStore &m_store;
    const LrcFolderIndex *m_folder;
    const LrclibClient *m_online;
    std::function<qint64()> m_now;
    Options m_options;
    Log m_log;

    struct KeptAnswer
    {
        KeptAnswer(std::string stored, QString fileText, QByteArray body, qint64 confirmedAt)
            : stored(std::move(stored)), fileText(std::move(fileText)), body(std::move(body)), confirmedAt(confirmedAt)
        {
        }
        const std::string stored; // the cache entry's text, or empty
        const QString fileText;   // the LRC file's text, or empty
        const QByteArray body;
        // When (m_now) the cache was last seen to hold `stored` for the song (none: empty).
        mutable std::atomic<qint64> confirmedAt;
    };
    BoundedCache<QString, std::shared_ptr<const KeptAnswer>> m_answers; // by song key
    BoundedCache<std::string, QString> m_songKeys; // by request body, of bodies that named a song
    std::optional<Answer> keptAnswer(const QString &key);

    std::mutex m_flightsMutex;
    QHash<QString, std::shared_future<Online>> m_flights;
};

} // namespace server
