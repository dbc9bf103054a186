// The lyrics repository against a scripted lyrics client on a hand-driven clock: shared
// in-flight lookups, the 10-second limit with the request cancelled, and how every outcome of
// the client maps to a lookup result.
#include "AuthFixture.h"

#include "backend/RemoteLyricsError.h"
#include "backend/RemoteLyricsProvider.h"
#include "platform/Async.h"
#include "session/LocalLyricsRepository.h"

#include <QJsonObject>
#include <QTest>

#include <stdexcept>

using namespace std::chrono_literals;
using Result = LocalLyricsRepository::LookupResult;
using Category = LocalLyricsRepository::LookupError::Category;

namespace {

const QString kLrc = QStringLiteral("[00:01.00] Hello\n[00:02.00] World\n");

// Answers every request after `delay` on the manual clock with `respond()` (which may throw).
// Records each request and whether it was cancelled.
class ScriptedLyricsClient : public RemoteLyricsProviding
{
public:
    explicit ScriptedLyricsClient(ManualContinuousClock *clock) : m_clock(clock) {}

    struct Request
    {
        QString title;
        QString artist;
        double duration = 0;
        QString bundle;
        bool cancelled = false;
        bool answered = false;
    };

    std::chrono::milliseconds delay{1000};
    std::function<RemoteLyricsFetchResult()> respond = [] {
        return RemoteLyricsFetchResult{LyricsResult::synced(kLrc, {}), LyricsSource::netease, QStringLiteral("en")};
    };
    QList<std::shared_ptr<Request>> requests;

    QCoro::Task<RemoteLyricsFetchResult> fetch(QString title, QString artist, double duration,
                                               QString sourceBundleIdentifier, CancellationToken token) override
    {
        auto request = std::make_shared<Request>(Request{title, artist, duration, sourceBundleIdentifier});
        requests.append(request);
        return answer(m_clock, delay, respond, request, token);
    }

private:
    static QCoro::Task<RemoteLyricsFetchResult> answer(ManualContinuousClock *clock, std::chrono::milliseconds delay,
                                                       std::function<RemoteLyricsFetchResult()> respond,
                                                       std::shared_ptr<Request> request, CancellationToken token)
    {
        if (delay.count() > 0) {
            const std::chrono::nanoseconds wait = delay;
            try {
                auto sleeping = clock->sleepFor(wait, token);
                co_await std::move(sleeping);
            } catch (const CancelledError &) {
                request->cancelled = true;
                throw;
            }
        }
        request->answered = true;
        co_return respond();
    }

    ManualContinuousClock *m_clock;
};

NowPlayingTrack track(const QString &title, const QString &artist)
{
    NowPlayingTrack t;
    t.title = title;
    t.artist = artist;
    t.duration = 215.5;
    t.isPlaying = true;
    t.sourceBundleIdentifier = QStringLiteral("org.mpris.MediaPlayer2.mpv");
    return t;
}

std::shared_ptr<AsyncOutcome<Result>> start(LocalLyricsRepository &repository, const NowPlayingTrack &t)
{
    auto outcome = std::make_shared<AsyncOutcome<Result>>();
    detail::captureOutcome<Result>(repository.lookup(t), outcome);
    return outcome;
}

void tick(ManualContinuousClock &clock, std::chrono::milliseconds d)
{
    clock.advance(d);
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents();
}

QNetworkReply::NetworkError networkCode(const Result &result)
{
    try {
        std::rethrow_exception(result.lookupError().underlying);
    } catch (const LocalLyricsRepository::NetworkError &e) {
        return e.code();
    } catch (...) {
    }
    return QNetworkReply::NoError;
}

} // namespace

Q_DECLARE_METATYPE(std::function<RemoteLyricsFetchResult()>)

class TestLyricsRepository : public QObject
{
    Q_OBJECT

private slots:
    void lookupsOfOneSongShareOneRequest()
    {
        ManualContinuousClock clock;
        auto client = std::make_shared<ScriptedLyricsClient>(&clock);
        LocalLyricsRepository repository(client, &clock);

        auto first = start(repository, track(QStringLiteral("Song Title"), QStringLiteral("Artist")));
        auto second = start(repository, track(QStringLiteral("  SONG title\n"), QStringLiteral(" artist ")));
        QCOMPARE(client->requests.size(), 1);
        QCOMPARE(repository.inflightCount(), 1);
        // The shared request is the first caller's, as written there.
        QCOMPARE(client->requests.at(0)->title, QStringLiteral("Song Title"));
        QCOMPARE(client->requests.at(0)->duration, 215.5);
        QCOMPARE(client->requests.at(0)->bundle, QStringLiteral("org.mpris.MediaPlayer2.mpv"));

        tick(clock, 1s);
        QVERIFY(first->done() && second->done());
        const Result expected = Result::found(kLrc, LyricsSource::netease, QStringLiteral("en"));
        QCOMPARE(first->take(), expected);
        QCOMPARE(second->take(), expected);
        QCOMPARE(repository.inflightCount(), 0);

        // Finished results are not kept: a later lookup asks again.
        auto third = start(repository, track(QStringLiteral("Song Title"), QStringLiteral("Artist")));
        QCOMPARE(client->requests.size(), 2);
        tick(clock, 1s);
        QVERIFY(third->done());
    }

    void differentSongsAskAtTheSameTime()
    {
        ManualContinuousClock clock;
        auto client = std::make_shared<ScriptedLyricsClient>(&clock);
        LocalLyricsRepository repository(client, &clock);
        auto a = start(repository, track(QStringLiteral("A"), QStringLiteral("X")));
        auto b = start(repository, track(QStringLiteral("B"), QStringLiteral("X")));
        QCOMPARE(client->requests.size(), 2);
        QCOMPARE(repository.inflightCount(), 2);
        tick(clock, 1s);
        QVERIFY(a->done() && b->done());
        QCOMPARE(repository.inflightCount(), 0);
    }

    // A client that answers without waiting leaves no entry behind, so the next lookup asks anew
    // instead of joining a finished one.
    void immediateAnswerLeavesNoEntry()
    {
        ManualContinuousClock clock;
        auto client = std::make_shared<ScriptedLyricsClient>(&clock);
        client->delay = 0ms;
        LocalLyricsRepository repository(client, &clock);
        auto first = start(repository, track(QStringLiteral("A"), QStringLiteral("X")));
        QVERIFY(first->done());
        QCOMPARE(repository.inflightCount(), 0);
        auto second = start(repository, track(QStringLiteral("A"), QStringLiteral("X")));
        QVERIFY(second->done());
        QCOMPARE(client->requests.size(), 2);
    }

    void slowBackendTimesOutAfterTenSecondsAndTheRequestIsCancelled()
    {
        ManualContinuousClock clock;
        auto client = std::make_shared<ScriptedLyricsClient>(&clock);
        client->delay = 11s;
        LocalLyricsRepository repository(client, &clock);
        auto outcome = start(repository, track(QStringLiteral("A"), QStringLiteral("X")));

        tick(clock, 9999ms);
        QVERIFY(!outcome->done());
        tick(clock, 1ms);
        QVERIFY(outcome->done());
        const Result result = outcome->take();
        QCOMPARE(result.kind(), Result::Kind::error);
        QCOMPARE(result.lookupError().category, Category::transport);
        QCOMPARE(networkCode(result), QNetworkReply::TimeoutError);
        QVERIFY(client->requests.at(0)->cancelled);
        QVERIFY(!client->requests.at(0)->answered);
        QCOMPARE(repository.inflightCount(), 0);
        QCOMPARE(clock.pendingSleepers(), 0);
    }

    void answerJustInsideTheLimitWins()
    {
        ManualContinuousClock clock;
        auto client = std::make_shared<ScriptedLyricsClient>(&clock);
        client->delay = 9s;
        LocalLyricsRepository repository(client, &clock);
        auto outcome = start(repository, track(QStringLiteral("A"), QStringLiteral("X")));
        tick(clock, 9s);
        QVERIFY(outcome->done());
        QCOMPARE(outcome->take().kind(), Result::Kind::found);
        QCOMPARE(clock.pendingSleepers(), 0); // the timer was cancelled
    }

    // A repository dropped while its fetch runs: the fetch still ends and answers its caller.
    void repositoryDroppedDuringTheFetch()
    {
        ManualContinuousClock clock;
        auto client = std::make_shared<ScriptedLyricsClient>(&clock);
        auto repository = std::make_unique<LocalLyricsRepository>(client, &clock);
        auto outcome = start(*repository, track(QStringLiteral("A"), QStringLiteral("X")));
        repository.reset();
        tick(clock, 1s);
        QVERIFY(outcome->done());
        QCOMPARE(outcome->take().kind(), Result::Kind::found);
    }

    void clientOutcomes_data()
    {
        QTest::addColumn<std::function<RemoteLyricsFetchResult()>>("respond");
        QTest::addColumn<QString>("expected"); // "found", "notFound" or a category's raw value
        QTest::addColumn<int>("networkCode");  // of the underlying error, when it is a network error

        using R = std::function<RemoteLyricsFetchResult()>;
        const auto value = [](LyricsResult result) {
            return R([result] { return RemoteLyricsFetchResult{result, LyricsSource::lrclib, std::nullopt}; });
        };
        const auto failing = [](auto error) { return R([error]() -> RemoteLyricsFetchResult { throw error; }); };

        QTest::newRow("synced") << value(LyricsResult::synced(kLrc, {})) << "found" << 0;
        QTest::newRow("notFound result") << value(LyricsResult::notFound()) << "notFound" << 0;
        QTest::newRow("synced but blank text") << value(LyricsResult::synced(QStringLiteral(" \n\t "), {}))
                                               << "notFound" << 0;
        QTest::newRow("404") << failing(RemoteLyricsError::notFound()) << "notFound" << 0;
        QTest::newRow("blank title") << failing(RemoteLyricsError::invalidInput(QStringLiteral("title")))
                                     << "http4xxOther" << 0;
        QTest::newRow("400") << failing(RemoteLyricsError::invalidInput(QStringLiteral("server-rejected")))
                             << "http4xxOther" << 0;
        QTest::newRow("401") << failing(RemoteLyricsError::server(401)) << "http4xxOther" << 0;
        QTest::newRow("499") << failing(RemoteLyricsError::server(499)) << "http4xxOther" << 0;
        QTest::newRow("503") << failing(RemoteLyricsError::server(503)) << "serverError" << 0;
        QTest::newRow("302") << failing(RemoteLyricsError::server(302)) << "serverError" << 0;
        QTest::newRow("not HTTP") << failing(RemoteLyricsError::server(0)) << "serverError" << 0;
        QTest::newRow("undecodable") << failing(RemoteLyricsError::decode(QStringLiteral("bad"))) << "parse" << 0;
        QTest::newRow("network failure")
            << failing(RemoteLyricsError::transport(QNetworkReply::HostNotFoundError)) << "transport"
            << int(QNetworkReply::HostNotFoundError);
        QTest::newRow("cancelled") << failing(CancelledError()) << "transport" << 0;
        QTest::newRow("anything else") << failing(std::runtime_error("boom")) << "transport" << 0;
    }

    void clientOutcomes()
    {
        QFETCH(std::function<RemoteLyricsFetchResult()>, respond);
        QFETCH(QString, expected);
        QFETCH(int, networkCode);

        ManualContinuousClock clock;
        auto client = std::make_shared<ScriptedLyricsClient>(&clock);
        client->respond = respond;
        LocalLyricsRepository repository(client, &clock);
        auto outcome = start(repository, track(QStringLiteral("A"), QStringLiteral("X")));
        tick(clock, 1s);
        QVERIFY(outcome->done());
        const Result result = outcome->take();

        if (expected == QLatin1String("found")) {
            QCOMPARE(result.kind(), Result::Kind::found);
            QCOMPARE(result.rawLRC(), kLrc); // untrimmed
            QCOMPARE(result.source(), LyricsSource::lrclib);
            QCOMPARE(result.language(), std::nullopt);
        } else if (expected == QLatin1String("notFound")) {
            QCOMPARE(result, Result::notFound());
        } else {
            QCOMPARE(result.kind(), Result::Kind::error);
            QCOMPARE(LocalLyricsRepository::LookupError::rawValue(result.lookupError().category), expected);
            QVERIFY(result.lookupError().underlying);
            QCOMPARE(int(::networkCode(result)), networkCode);
        }
    }

    // The same against the real lyrics client and the HTTP fake.
    void overHttpOneRequestPerSong()
    {
        AuthFixture fixture;
        fixture.start();
        HttpSession session(RemoteAPIConfig::sharedSessionConfiguration());
        const QJsonObject body{{"lyrics", kLrc}, {"source", "lrclib"}, {"songKey", "x|a"}, {"language", "en"}};
        fixture.server.setReply("/api/track", HttpFake::Reply::json(200, body).withDelay(100ms));
        auto client = std::make_shared<RemoteLyricsProvider>(&session, fixture.auth.get(), fixture.server.baseUrl());
        LocalLyricsRepository repository(client);

        auto first = start(repository, track(QStringLiteral("A"), QStringLiteral("X")));
        auto second = start(repository, track(QStringLiteral("a "), QStringLiteral(" x")));
        QVERIFY(TaskRunner::waitUntilDone(first) && TaskRunner::waitUntilDone(second));
        const Result expected = Result::found(kLrc, LyricsSource::lrclib, QStringLiteral("en"));
        QCOMPARE(first->take(), expected);
        QCOMPARE(second->take(), expected);
        QCOMPARE(fixture.server.count("/api/track"), 1);

        auto third = start(repository, track(QStringLiteral("A"), QStringLiteral("X")));
        QVERIFY(TaskRunner::waitUntilDone(third));
        QCOMPARE(fixture.server.count("/api/track"), 2);
    }

    void overHttpTheLimitCancelsTheRequest()
    {
        AuthFixture fixture;
        fixture.start();
        HttpSession session(RemoteAPIConfig::sharedSessionConfiguration());
        fixture.server.setReply("/api/track", HttpFake::Reply::neverAnswer());
        auto client = std::make_shared<RemoteLyricsProvider>(&session, fixture.auth.get(), fixture.server.baseUrl());
        ManualContinuousClock clock;
        LocalLyricsRepository repository(client, &clock);

        auto outcome = start(repository, track(QStringLiteral("A"), QStringLiteral("X")));
        QTRY_COMPARE(fixture.server.count("/api/track"), 1);
        tick(clock, 10s);
        QVERIFY(outcome->done());
        const Result result = outcome->take();
        QCOMPARE(result.lookupError().category, Category::transport);
        QCOMPARE(networkCode(result), QNetworkReply::TimeoutError);
        QTRY_COMPARE(fixture.server.abortedCount("/api/track"), 1);
    }

    void categoryRawValues()
    {
        using E = LocalLyricsRepository::LookupError;
        for (Category c : {Category::transport, Category::serverError, Category::parse, Category::http4xxOther})
            QCOMPARE(E::categoryFromRawValue(E::rawValue(c)), std::optional<Category>(c));
        QCOMPARE(E::categoryFromRawValue(QStringLiteral("Transport")), std::nullopt);
        // Errors compare by category only.
        QCOMPARE(Result::error(E{Category::parse, {}}),
                 Result::error(E{Category::parse, std::make_exception_ptr(std::runtime_error("x"))}));
        QVERIFY(!(Result::error(E{Category::parse, {}}) == Result::error(E{Category::transport, {}})));
    }
};

QTEST_GUILESS_MAIN(TestLyricsRepository)
#include "tst_lyricsrepository.moc"
