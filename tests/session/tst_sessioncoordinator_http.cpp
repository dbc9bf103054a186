// The song pipeline with the real backend clients against the HTTP fake: what reaches the wire
// when a song changes mid-request, and how a rejected session is handled.

#include "AuthFixture.h"
#include "FakeNowPlayingSource.h"

#include "backend/RemoteAPIConfig.h"
#include "backend/RemoteCardsError.h"
#include "backend/RemoteLLMProvider.h"
#include "backend/RemoteLyricsProvider.h"
#include "backend/RemoteSongStoryProvider.h"
#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/LocalCardsRepository.h"
#include "session/nowplaying/NowPlayingMonitor.h"
#include "session/player/PlayerViewModel.h"
#include "session/SessionCoordinator.h"

#include <QJsonArray>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using Reply = HttpFake::Reply;

namespace {

const QString lrcText = QStringLiteral("[00:01.00]Hello there\n[00:04.00]Second line\n");

NowPlayingTrack track(const QString &title)
{
    NowPlayingTrack t;
    t.title = title;
    t.artist = QStringLiteral("Artist");
    t.duration = 180;
    t.isPlaying = true;
    return t;
}

QJsonObject cardsAnswer(const QString &en)
{
    const QJsonObject card{{"en", en},       {"cn", "中文"},         {"note", "说明"},
                           {"example", "An example."}, {"tag", "词汇"}, {"lineTimestamp", 1.0}};
    return QJsonObject{{"cards", QJsonArray{card}}, {"songKey", "artist|song"}};
}

struct HttpRig
{
    AuthFixture fixture;
    QTemporaryDir dir;
    QSettings settings{dir.path() + QStringLiteral("/settings.ini"), QSettings::IniFormat};
    HttpSession http{RemoteAPIConfig::sharedSessionConfiguration()};
    std::shared_ptr<StoreContainer> container = StoreContainer::open(dir.path() + QStringLiteral("/store.sqlite"));
    std::shared_ptr<CardStoreActor> actor = std::make_shared<CardStoreActor>(container);
    CardStore cardStore{container};
    FakeNowPlayingSource *source = new FakeNowPlayingSource;
    NowPlayingMonitor monitor{std::unique_ptr<NowPlayingSource>(source)};
    std::unique_ptr<PlayerViewModel> vm;
    std::unique_ptr<SessionCoordinator> coordinator;

    HttpRig()
    {
        fixture.server.setHandler(QStringLiteral("/api/track"), [](const HttpFake::Request &) {
            return Reply::json(200, QJsonObject{{"lyrics", lrcText}, {"source", "lrclib"},
                                                {"songKey", "artist|song"}, {"language", "en"}});
        });
        fixture.server.setReply(QStringLiteral("/api/story"),
                                Reply::json(200, QJsonObject{{"article", "A story."}, {"songKey", "artist|song"}}));
        fixture.store(fixture.issuedSession(QStringLiteral("ann@example.com")));
        fixture.start();

        const QUrl base = fixture.server.baseUrl();
        auto lyricsClient = std::make_shared<RemoteLyricsProvider>(&http, fixture.auth.get(), base);
        auto llm = std::make_shared<RemoteLLMProvider>(&http, base, fixture.auth.get());
        auto story = std::make_shared<RemoteSongStoryProvider>(&http, base, fixture.auth.get());
        PlayerViewModelDependencies deps;
        deps.userId = QStringLiteral("u1");
        deps.settings = &settings;
        vm = std::make_unique<PlayerViewModel>([] { return ContinuousClock::system()->now(); }, deps);
        coordinator = std::make_unique<SessionCoordinator>(
            &monitor, std::make_shared<LocalLyricsRepository>(lyricsClient),
            std::make_shared<LocalCardsRepository>(&cardStore, llm), llm, &cardStore, actor, vm.get(), nullptr, story);
    }
    ~HttpRig() { coordinator->stop(); }

    bool idle() const { return !vm->isLoadingLyrics() && !vm->isLoadingCards(); }
    std::optional<SongRecordSnapshot> stored(const QString &key) { return QCoro::waitFor(actor->snapshot(key)); }
};

} // namespace

class TestSessionCoordinatorHttp : public QObject
{
    Q_OBJECT

private slots:
    // HTTP: the first song's card request is aborted on the wire and nothing of it is shown.
    void songChangeAbortsCardRequest()
    {
        HttpRig rig;
        rig.fixture.server.setHandler(QStringLiteral("/api/cards"), [](const HttpFake::Request &request) {
            if (request.jsonObject().value("title").toString() == QLatin1String("A"))
                return Reply::neverAnswer();
            return Reply::json(200, cardsAnswer(QStringLiteral("from B")));
        });
        rig.coordinator->start();
        rig.source->send(track(QStringLiteral("A")));
        QTRY_COMPARE(rig.fixture.server.count(QStringLiteral("/api/cards")), 1);
        QVERIFY(rig.vm->isLoadingCards());

        QSignalSpy errors(rig.vm.get(), &PlayerViewModel::errorStateChanged);
        rig.source->send(track(QStringLiteral("B")));
        QTRY_COMPARE(rig.fixture.server.abortedCount(QStringLiteral("/api/cards")), 1);
        QTRY_VERIFY(!rig.vm->cards().isEmpty() && rig.idle());
        QCOMPARE(rig.vm->cards().size(), 1);
        QCOMPARE(rig.vm->cards().first().en, QStringLiteral("from B"));
        QCOMPARE(rig.vm->track()->title, QStringLiteral("B"));
        QVERIFY(!rig.vm->errorState().has_value());
        QVERIFY(errors.isEmpty());
        QCOMPARE(rig.fixture.server.count(QStringLiteral("/api/cards")), 2);
        QVERIFY(rig.stored(track(QStringLiteral("A")).songKey())->cards.isEmpty());
    }

    // HTTP: a 401 on the card call signs the user out once and is not retried.
    void unauthorizedCardCall()
    {
        HttpRig rig;
        rig.fixture.server.setReply(QStringLiteral("/api/cards"), Reply::json(401, QJsonObject{}));
        QSignalSpy sessions(rig.fixture.auth.get(), &AuthService::sessionChanged);
        rig.coordinator->start();
        rig.source->send(track(QStringLiteral("Song")));

        QTRY_COMPARE(rig.vm->errorState(), std::optional<CantorellaError>(CantorellaError::cardsUnavailable()));
        QVERIFY(rig.idle());
        QCOMPARE(rig.vm->cardsErrorDetail(), std::optional<QString>(RemoteCardsError::server(401).errorDescription()));
        QTest::qWait(700); // longer than the transport retry pause
        QCOMPARE(rig.fixture.server.count(QStringLiteral("/api/cards")), 1);
        QCOMPARE(sessions.count(), 1);
        QVERIFY(!rig.fixture.auth->isSignedIn());
    }
};

QTEST_GUILESS_MAIN(TestSessionCoordinatorHttp)
#include "tst_sessioncoordinator_http.moc"
