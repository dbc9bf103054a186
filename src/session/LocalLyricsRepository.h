#pragma once

#include "backend/RemoteLyricsProviding.h"
#include "core/Lyrics.h"
#include "platform/Clock.h"
#include "session/nowplaying/NowPlayingTrack.h"

#include <QNetworkReply>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>

// The lyrics of a playing song, from the backend. Concurrent lookups of one song (same trimmed,
// lower-cased title and artist) share one request; each request is raced against a 10-second
// limit. Nothing is kept once a lookup has finished. A lookup never fails: every outcome is a
// LookupResult. GUI thread only.
class LocalLyricsRepository
{
public:
    static constexpr std::chrono::seconds timeLimit{10};

    // A transfer that failed in the network layer, with its error code (the lookup's 10-second
    // limit gives QNetworkReply::TimeoutError).
    class NetworkError : public std::exception
    {
    public:
        explicit NetworkError(QNetworkReply::NetworkError code);
        QNetworkReply::NetworkError code() const { return m_code; }
        const char *what() const noexcept override { return m_what.constData(); }

    private:
        QNetworkReply::NetworkError m_code;
        QByteArray m_what;
    };

    struct LookupError
    {
        // Raw values "transport", "serverError", "parse", "http4xxOther".
        enum class Category {
            transport,    // no answer in time: network failure, the 10 s limit, any unexpected failure
            serverError,  // a status outside 400-499 (0: not an HTTP answer)
            parse,        // the answer did not decode
            http4xxOther, // refused: a 4xx other than 404, or input rejected before sending
        };

        Category category = Category::transport;
        // The cause; not compared.
        std::exception_ptr underlying;

        static QString rawValue(Category category);
        static std::optional<Category> categoryFromRawValue(const QString &raw);

        friend bool operator==(const LookupError &a, const LookupError &b) { return a.category == b.category; }
    };

    class LookupResult
    {
    public:
        enum class Kind { found, error, notFound };

        static LookupResult found(QString rawLRC, LyricsSource source, std::optional<QString> language);
        static LookupResult error(LookupError error);
        static LookupResult notFound();

        Kind kind() const { return m_kind; }
        // found: the LRC text as the backend sent it (at least one stamped line).
        const QString &rawLRC() const { return m_rawLRC; }
        LyricsSource source() const { return m_source; }
        const std::optional<QString> &language() const { return m_language; }
        // error: the error; a transport error otherwise.
        const LookupError &lookupError() const { return m_error; }

        friend bool operator==(const LookupResult &a, const LookupResult &b)
        {
            if (a.m_kind != b.m_kind)
                return false;
            switch (a.m_kind) {
            case Kind::found:
                return a.m_rawLRC == b.m_rawLRC && a.m_source == b.m_source && a.m_language == b.m_language;
            case Kind::error: return a.m_error == b.m_error;
            case Kind::notFound: return true;
            }
            return false;
        }

    private:
        explicit LookupResult(Kind kind) : m_kind(kind) {}
        Kind m_kind;
        QString m_rawLRC;
        LyricsSource m_source = LyricsSource::lrclib;
        std::optional<QString> m_language;
        LookupError m_error;
    };

    // `clock` times the 10-second limit; it must outlive every lookup.
    explicit LocalLyricsRepository(std::shared_ptr<RemoteLyricsProviding> remote,
                                   ContinuousClock *clock = ContinuousClock::system());
    ~LocalLyricsRepository();
    LocalLyricsRepository(const LocalLyricsRepository &) = delete;
    LocalLyricsRepository &operator=(const LocalLyricsRepository &) = delete;

    // The song's lyrics. Reads the track's title, artist, duration and player. A caller that
    // joins a running lookup gets that lookup's result (fetched with the first caller's track).
    // Ends within about 10 s of the request; the request goes on even if the caller's own work
    // was abandoned, so other callers of the same song still get the answer.
    QCoro::Task<LookupResult> lookup(NowPlayingTrack track);

    // Lookups in progress (one per song).
    qsizetype inflightCount() const;

    // The outcome of one request, mapped to a LookupResult.
    static LookupResult map(const RemoteLyricsFetchResult &value);
    static LookupResult map(const std::exception_ptr &error);

    // The repository's table and collaborators, shared with its running fetches (opaque).
    struct State;

private:
    std::shared_ptr<State> m_state;
};
