#include "session/LocalLyricsRepository.h"

#include "backend/RemoteLyricsError.h"
#include "platform/Async.h"
#include "platform/Text.h"

#include <QHash>

#include <functional>

namespace LocalLyricsRepositoryDetail {

// What makes two lookups the same song: title and artist, trimmed and lower-cased.
struct Query
{
    QString title;
    QString artist;

    static Query of(const NowPlayingTrack &track)
    {
        return Query{Text::trimmed(track.title).toLower(), Text::trimmed(track.artist).toLower()};
    }
    friend bool operator==(const Query &, const Query &) = default;
};

size_t qHash(const Query &query, size_t seed = 0) noexcept
{
    return qHashMulti(seed, query.title, query.artist);
}

} // namespace LocalLyricsRepositoryDetail

using LocalLyricsRepositoryDetail::Query;

namespace {

// What the 10-second timer throws.
class TimeoutError : public std::exception
{
public:
    const char *what() const noexcept override { return "lyrics lookup timed out"; }
};

using Result = LocalLyricsRepository::LookupResult;
using Error = LocalLyricsRepository::LookupError;

} // namespace

struct LocalLyricsRepository::State
{
    struct Inflight
    {
        SharedTask<LookupResult> task;
        quint64 id = 0;
    };

    std::shared_ptr<RemoteLyricsProviding> remote;
    ContinuousClock *clock = nullptr;
    QHash<Query, Inflight> inflight;
    quint64 nextId = 0;
};

namespace {

// GCC 12 destroys some temporaries of a co_await expression twice, so every awaited task is
// built in a statement of its own and awaited by name.

QCoro::Task<RemoteLyricsFetchResult> fetchRemote(std::shared_ptr<RemoteLyricsProviding> remote,
                                                 NowPlayingTrack track, CancellationToken token)
{
    const QString bundle = track.sourceBundleIdentifier.value_or(QString());
    auto request = remote->fetch(track.title, track.artist, track.duration, bundle, token);
    co_return co_await std::move(request);
}

QCoro::Task<RemoteLyricsFetchResult> timeOutAfterLimit(ContinuousClock *clock, CancellationToken token)
{
    const std::chrono::nanoseconds limit = LocalLyricsRepository::timeLimit;
    auto sleeping = clock->sleepFor(limit, token);
    co_await std::move(sleeping);
    throw TimeoutError();
}

// The request against the limit; the loser is cancelled (a cancelled request aborts its reply).
QCoro::Task<RemoteLyricsFetchResult> fetchWithTimeout(std::shared_ptr<RemoteLyricsProviding> remote,
                                                      ContinuousClock *clock, NowPlayingTrack track)
{
    std::function<QCoro::Task<RemoteLyricsFetchResult>(CancellationToken)> request =
        [remote, track](CancellationToken token) { return fetchRemote(remote, track, token); };
    std::function<QCoro::Task<RemoteLyricsFetchResult>(CancellationToken)> timer =
        [clock](CancellationToken token) { return timeOutAfterLimit(clock, token); };
    auto racing = race<RemoteLyricsFetchResult>(request, timer);
    co_return co_await std::move(racing);
}

// The shared fetch of one song. It holds the repository's state, and removes its own table
// entry when it ends, whether or not any caller is still waiting for it.
QCoro::Task<Result> runLookup(std::shared_ptr<LocalLyricsRepository::State> state, Query query, quint64 id,
                              NowPlayingTrack track, CancellationToken)
{
    std::optional<Result> result;
    try {
        auto fetching = fetchWithTimeout(state->remote, state->clock, track);
        const RemoteLyricsFetchResult value = co_await std::move(fetching);
        result = LocalLyricsRepository::map(value);
    } catch (...) {
        result = LocalLyricsRepository::map(std::current_exception());
    }
    const auto it = state->inflight.constFind(query);
    if (it != state->inflight.cend() && it->id == id)
        state->inflight.erase(it);
    co_return *result;
}

} // namespace

LocalLyricsRepository::NetworkError::NetworkError(QNetworkReply::NetworkError code)
    : m_code(code)
    , m_what(QByteArrayLiteral("network error ") + QByteArray::number(int(code)))
{
}

QString LocalLyricsRepository::LookupError::rawValue(Category category)
{
    switch (category) {
    case Category::transport: return QStringLiteral("transport");
    case Category::serverError: return QStringLiteral("serverError");
    case Category::parse: return QStringLiteral("parse");
    case Category::http4xxOther: return QStringLiteral("http4xxOther");
    }
    return QString();
}

std::optional<LocalLyricsRepository::LookupError::Category>
LocalLyricsRepository::LookupError::categoryFromRawValue(const QString &raw)
{
    for (Category category : {Category::transport, Category::serverError, Category::parse, Category::http4xxOther})
        if (rawValue(category) == raw)
            return category;
    return std::nullopt;
}

Result Result::found(QString rawLRC, LyricsSource source, std::optional<QString> language)
{
    Result result(Kind::found);
    result.m_rawLRC = std::move(rawLRC);
    result.m_source = source;
    result.m_language = std::move(language);
    return result;
}

Result Result::error(LookupError error)
{
    Result result(Kind::error);
    result.m_error = std::move(error);
    return result;
}

Result Result::notFound()
{
    return Result(Kind::notFound);
}

LocalLyricsRepository::LocalLyricsRepository(std::shared_ptr<RemoteLyricsProviding> remote, ContinuousClock *clock)
    : m_state(std::make_shared<State>())
{
    m_state->remote = std::move(remote);
    m_state->clock = clock;
}

LocalLyricsRepository::~LocalLyricsRepository() = default;

qsizetype LocalLyricsRepository::inflightCount() const
{
    return m_state->inflight.size();
}

QCoro::Task<Result> LocalLyricsRepository::lookup(NowPlayingTrack track)
{
    // Only the shared state is used from here on: the repository object may go away while the
    // caller waits.
    std::shared_ptr<State> state = m_state;
    const Query query = Query::of(track);
    SharedTask<Result> task;
    if (const auto it = state->inflight.constFind(query); it != state->inflight.cend()) {
        task = it->task;
    } else {
        const quint64 id = ++state->nextId;
        std::function<QCoro::Task<Result>(CancellationToken)> body =
            [state, query, id, track](CancellationToken token) { return runLookup(state, query, id, track, token); };
        task = SharedTask<Result>(body);
        // A fetch that finished without waiting has nothing left to share.
        if (!task.isDone())
            state->inflight.insert(query, State::Inflight{task, id});
    }
    auto waiting = task.wait();
    co_return co_await std::move(waiting);
}

Result LocalLyricsRepository::map(const RemoteLyricsFetchResult &value)
{
    if (value.result.isNotFound() || Text::trimmed(value.result.rawLRC()).isEmpty())
        return Result::notFound();
    return Result::found(value.result.rawLRC(), value.source, value.language);
}

Result LocalLyricsRepository::map(const std::exception_ptr &error)
{
    const auto failure = [](Error::Category category, std::exception_ptr underlying) {
        return Result::error(Error{category, std::move(underlying)});
    };
    try {
        std::rethrow_exception(error);
    } catch (const RemoteLyricsError &e) {
        switch (e.kind()) {
        case RemoteLyricsError::Kind::notFound:
            return Result::notFound();
        case RemoteLyricsError::Kind::invalidInput:
            return failure(Error::Category::http4xxOther, error);
        case RemoteLyricsError::Kind::server:
            return failure(e.status() >= 400 && e.status() <= 499 ? Error::Category::http4xxOther
                                                                   : Error::Category::serverError,
                           error);
        case RemoteLyricsError::Kind::transport:
            return failure(Error::Category::transport, std::make_exception_ptr(NetworkError(e.transportCode())));
        case RemoteLyricsError::Kind::decode:
            return failure(Error::Category::parse, error);
        }
        return failure(Error::Category::transport, error);
    } catch (const TimeoutError &) {
        return failure(Error::Category::transport,
                       std::make_exception_ptr(NetworkError(QNetworkReply::TimeoutError)));
    } catch (...) {
        return failure(Error::Category::transport, error);
    }
}
