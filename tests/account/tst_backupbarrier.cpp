// A restore while the playing song's cards are being stored: the pipeline has handed the
// write to CardStoreActor (its thread is held up here by another connection's lock) when the
// restore begins. The will-import hook, as the application wires it, quiets the session and
// then awaits the actor's barrier, so that write lands before the import instead of over it.

#include "AuthFixture.h"
#include "CountingHttpSession.h"
#include "FakeBackupProvider.h"
#include "FakeNowPlayingSource.h"

#include "account/BackupCoordinator.h"
#include "account/BackupService.h"
#include "backend/RemoteAPIConfig.h"
#include "backend/RemoteLLMProvider.h"
#include "backend/RemoteLyricsProvider.h"
#include "backend/RemoteSongStoryProvider.h"
#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "session/LocalCardsRepository.h"
#include "session/SessionCoordinator.h"
#include "session/nowplaying/NowPlayingMonitor.h"
#include "session/player/PlayerViewModel.h"

#include <QJsonArray>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;
using Reply = HttpFake::Reply;

namespace {

const QString songKey = QStringLiteral("artist|song");

// The backup holds the playing song with two cards, both mastered.
const QByteArray backup = R"({"appBuild": "1", "exportedAt": "2024-05-01T10:00:00Z", "namespaces": {"en": {"songs": [
 {"artist": "Artist", "cards": [
   {"cn": "一", "en": "restored one", "example": "e", "isFavorite": false, "isMastered": true,
    "lineTimestamp": 1, "masteredAt": "2024-04-01T00:00:00Z", "note": "n", "tag": "t"},
   {"cn": "二", "en": "restored two", "example": "e", "isFavorite": true, "favoritedAt": "2024-04-01T00:00:00Z",
    "isMastered": true, "lineTimestamp": 4, "masteredAt": "2024-04-01T00:00:00Z", "note": "n", "tag": "t"}],
  "isFavorite": false, "key": "artist|song", "language": "en", "lastPlayedAt": "2024-04-30T12:00:00Z",
  "lyrics": "[00:01.00]Hello there\n[00:04.00]Second line\n", "playCount": 3, "title": "Song"}]}}})";

QCoro::Task<void> quiesceSession(QPointer<SessionCoordinator> session, std::shared_ptr<CardStoreActor> actor)
{
    if (session)
        session->prepareForRestore();
    co_await actor->barrier();
}

QCoro::Task<void> reloadSession(QPointer<SessionCoordinator> session)
{
    if (session)
        co_await session->reloadCurrentTrack();
}

qint64 cardsEverInserted(SqliteDatabase &db)
{
    SqliteStatement st = db.statement("SELECT seq FROM sqlite_sequence WHERE name = 'cards'");
    return st.step() ? st.int64(0) : 0;
}

} // namespace

class TestBackupBarrier : public QObject
{
    Q_OBJECT

private slots:
    void pipelineWriteLandsBeforeTheRestore()
    {
        AuthFixture fixture;
        fixture.server.setReply(QStringLiteral("/api/track"),
                                Reply::json(200, QJsonObject{{"lyrics", "[00:01.00]Hello there\n"}, {"source", "lrclib"},
                                                             {"songKey", songKey}, {"language", "en"}}));
        fixture.server.setReply(QStringLiteral("/api/story"),
                                Reply::json(200, QJsonObject{{"article", "A story."}, {"songKey", songKey}}));
        const QJsonObject generated{{"en", "generated"}, {"cn", "生成"}, {"note", "n"}, {"example", "e"},
                                    {"tag", "t"}, {"lineTimestamp", 1.0}};
        fixture.server.setReply(QStringLiteral("/api/cards"),
                                Reply::json(200, QJsonObject{{"cards", QJsonArray{generated}}, {"songKey", songKey}})
                                    .withDelay(300ms));
        fixture.store(fixture.issuedSession(QStringLiteral("ann@example.com")));
        fixture.start();

        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        CountingHttpSession http(RemoteAPIConfig::sharedSessionConfiguration());
        const QString path = dir.filePath(QStringLiteral("store.sqlite"));
        auto container = StoreContainer::open(path);
        auto actor = std::make_shared<CardStoreActor>(container);
        CardStore cardStore(container);
        auto *source = new FakeNowPlayingSource;
        NowPlayingMonitor monitor{std::unique_ptr<NowPlayingSource>(source)};
        const QUrl base = fixture.server.baseUrl();
        auto lyricsClient = std::make_shared<RemoteLyricsProvider>(&http, fixture.auth.get(), base);
        auto llm = std::make_shared<RemoteLLMProvider>(&http, base, fixture.auth.get());
        auto story = std::make_shared<RemoteSongStoryProvider>(&http, base, fixture.auth.get());
        PlayerViewModelDependencies deps;
        deps.userId = QStringLiteral("u1");
        deps.settings = &settings;
        PlayerViewModel vm([] { return ContinuousClock::system()->now(); }, deps);
        SessionCoordinator session(&monitor, std::make_shared<LocalLyricsRepository>(lyricsClient),
                                   std::make_shared<LocalCardsRepository>(&cardStore, llm), llm, &cardStore, actor,
                                   &vm, nullptr, story);

        BackupService service(&cardStore, QStringLiteral("en"), nullptr, actor);
        auto provider = std::make_shared<FakeBackupProvider>();
        provider->downloadScript.outcomes = {FakeOutcome<std::optional<QByteArray>>::success(backup)};
        BackupCoordinator coordinator(&service, provider);
        const QPointer<SessionCoordinator> sessionRef(&session);
        coordinator.setOnRestoreWillImport([sessionRef, actor] { return quiesceSession(sessionRef, actor); });
        coordinator.setOnRestoreDidSucceed([sessionRef] { return reloadSession(sessionRef); });

        NowPlayingTrack track;
        track.title = QStringLiteral("Song");
        track.artist = QStringLiteral("Artist");
        track.duration = 180;
        track.isPlaying = true;
        session.start();
        source->send(track);
        QTRY_COMPARE(fixture.server.count(QStringLiteral("/api/cards")), 1);
        QTRY_VERIFY(vm.currentStory().has_value()); // the story is stored: no other write is due

        // Another connection holds the write lock: the generated cards reach the actor and wait.
        SqliteDatabase lock = SqliteDatabase::open(path);
        const qint64 insertedBefore = cardsEverInserted(lock);
        lock.exec(QStringLiteral("BEGIN IMMEDIATE"));
        QTRY_COMPARE_WITH_TIMEOUT(http.answeredOn.value(QStringLiteral("/api/cards")), 1, 20000); // handed to the actor

        auto restoring = TaskRunner::start(coordinator.restore());
        QTest::qWait(200);
        QCOMPARE(coordinator.status(), BackupCoordinator::Status::InProgress); // at the barrier
        lock.exec(QStringLiteral("ROLLBACK"));
        QVERIFY(TaskRunner::waitUntilDone(restoring));
        QCOMPARE(coordinator.status(), BackupCoordinator::Status::RestoreSucceeded);

        // The pipeline's card was stored first, then the restore replaced it.
        QCOMPARE(cardsEverInserted(lock), insertedBefore + 1 + 2);
        const std::optional<SongRecordSnapshot> stored = TaskRunner::run(actor->snapshot(songKey));
        QVERIFY(stored);
        QCOMPARE(stored->cards.size(), 2);
        for (const LearnedCardSnapshot &card : stored->cards)
            QVERIFY(card.isMastered && card.learned);
        QCOMPARE(stored->playCount, qint64(3));

        // The playing song is loaded again from the restored library.
        QTRY_COMPARE(vm.cards().size(), 2);
        for (const LearnedCardVM &card : vm.cards())
            QVERIFY(card.learned);
        session.stop();
    }
};

QTEST_GUILESS_MAIN(TestBackupBarrier)
#include "tst_backupbarrier.moc"
