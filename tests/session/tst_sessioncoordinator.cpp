// Scenarios of the song pipeline: the real monitor fed by a fake source, the real store on a
// temporary file, the lyrics repository over a faked client, and faked card and story backends.

#include "SessionRig.h"

#include "backend/RemoteCardsError.h"
#include "backend/RemoteLyricsError.h"
#include "core/LrcParser.h"
#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/LocalCardsRepository.h"
#include "session/nowplaying/NowPlayingMonitor.h"
#include "session/player/PlayerViewModel.h"
#include "session/SessionCoordinator.h"

#include <QLoggingCategory>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

using namespace std::chrono_literals;

using namespace sessionrig;

namespace {

// Waits for work that commits to the store more than once: with a machine's disk busy (a test run
// right after a clean build), each commit's fsync can take seconds, beyond QTRY's 5 s default.
constexpr int storeBoundWait = 20000;

// Every log line of the test process, for the texts the pipeline must write.
namespace SessionLogCapture {
QStringList &lines()
{
    static QStringList all;
    return all;
}
QtMessageHandler previous = nullptr;
void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    lines().append(message);
    if (type != QtDebugMsg && previous)
        previous(type, context, message);
}
void install()
{
    QLoggingCategory::setFilterRules(QStringLiteral("com.cantorella.*.debug=true"));
    previous = qInstallMessageHandler(handler);
}
void clear() { lines().clear(); }
int count(const QString &text)
{
    int n = 0;
    for (const QString &line : lines())
        n += line.contains(text) ? 1 : 0;
    return n;
}
bool contains(const QString &text) { return count(text) > 0; }
} // namespace SessionLogCapture

} // namespace

class TestSessionCoordinator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { SessionLogCapture::install(); }
    void init() { SessionLogCapture::clear(); }

    void newSongColdStore()
    {
        Rig rig;
        rig.lyricsFor(QStringLiteral("Song"));
        const CancellationToken lyricsSeen = rig.llm->script.any.hold();
        rig.coordinator.start();
        rig.play(track(QStringLiteral("Song")));

        // The lyrics are on screen while the cards are still being written.
        QTRY_VERIFY(rig.vm.lyricsResult().has_value() && rig.vm.isLoadingCards());
        lyricsSeen.cancel();
        QVERIFY(!rig.vm.isLoadingLyrics());
        QCOMPARE(rig.vm.lyricLines().size(), 3);
        QVERIFY(rig.vm.cards().isEmpty());
        QCOMPARE(rig.vm.currentSource(), std::optional<LyricsSource>(LyricsSource::lrclib));

        QTRY_VERIFY(!rig.vm.cards().isEmpty());
        QCOMPARE(ids(rig.vm.cards()), (QStringList{"early", "late", "late too", "untimed"}));
        QTRY_VERIFY(rig.vm.currentStory().has_value());
        QCOMPARE(rig.vm.currentStory()->article, QStringLiteral("A story."));
        QVERIFY(rig.idle());

        const QString key = track(QStringLiteral("Song")).songKey();
        QTRY_COMPARE(rig.stored(key)->storyArticle, std::optional<QString>(QStringLiteral("A story.")));
        const SongRecordSnapshot record = *rig.stored(key);
        QCOMPARE(record.playCount, 1);
        QCOMPARE(record.language, std::optional<QString>(QStringLiteral("en")));
        QCOMPARE(record.lyrics, lrcText);
        QCOMPARE(record.cards.size(), 4);
        QCOMPARE(record.cards.first().en, QStringLiteral("early"));
        QCOMPARE(rig.remote->scripts.calls(), 1);
        QCOMPARE(rig.llm->script.calls(), 1);
        QCOMPARE(rig.llm->requests.first().language, std::optional<QString>(QStringLiteral("en")));
        QCOMPARE(rig.story->script.calls(), 1);
        QVERIFY(SessionLogCapture::contains("LyricsLookup ok in"));
        QVERIFY(SessionLogCapture::contains("CardGeneration ok in"));
        QVERIFY(SessionLogCapture::contains("Story fetch succeeded"));
    }

    void repeatedSamplesOfOneSong()
    {
        Rig rig;
        rig.lyricsFor(QStringLiteral("Song"));
        rig.coordinator.start();
        rig.play(track(QStringLiteral("Song"), QStringLiteral("Artist"), 0));
        QTRY_VERIFY(rig.vm.cards().size() == 4 && rig.idle());
        const quint64 session = rig.vm.songSessionId();

        rig.play(track(QStringLiteral("  SONG "), QStringLiteral("artist\n"), 3.5));
        QTRY_COMPARE(rig.lighting.autoFollowLitCardId(), std::optional<QString>(QStringLiteral("early|phrase")));
        QVERIFY(rig.vm.anchor().has_value());
        QCOMPARE(rig.vm.anchor()->elapsed, 3.5);
        rig.play(track(QStringLiteral("song"), QStringLiteral("ARTIST"), 12.5));
        QTRY_COMPARE(rig.lighting.autoFollowLitCardId(), std::optional<QString>(QStringLiteral("late|phrase")));
        QCOMPARE(rig.vm.anchor()->elapsed, 12.5);

        QCOMPARE(rig.vm.songSessionId(), session);
        QCOMPARE(rig.vm.cards().size(), 4);
        QCOMPARE(rig.remote->scripts.calls(), 1);
        QCOMPARE(rig.llm->script.calls(), 1);
        QCOMPARE(rig.story->script.calls(), 1);
    }

    void warmStoreNeedsNoBackend()
    {
        Rig rig;
        const NowPlayingTrack t = track(QStringLiteral("Song"));
        const QString key = t.songKey();
        const QList<GoldenCard> cards = {card(QStringLiteral("b"), 9), card(QStringLiteral("a"), 2)};
        await(rig.actor->upsertSong(key, t.title, t.artist, lrcText, QStringLiteral("en"), cards));
        await(rig.actor->setLyricsOffset(key, 0.123));
        await(rig.actor->saveStory(key, t.title, t.artist, QStringLiteral("  Stored story.\n")));

        rig.coordinator.start();
        rig.play(t);
        QTRY_VERIFY(rig.vm.cards().size() == 2 && rig.idle());
        QCOMPARE(ids(rig.vm.cards()), (QStringList{"a", "b"}));
        QCOMPARE(rig.vm.currentSource(), std::optional<LyricsSource>(LyricsSource::cache));
        QVERIFY(qAbs(rig.vm.perSongOffset().value(key) - 0.1) < 1e-9);
        QCOMPARE(rig.vm.currentStory()->article, QStringLiteral("Stored story."));
        QCOMPARE(rig.remote->scripts.calls(), 0);
        QCOMPARE(rig.llm->script.calls(), 0);
        QCOMPARE(rig.story->script.calls(), 0);
        QTRY_COMPARE(rig.stored(key)->playCount, 1);
    }

    void staleLyricsAreDropped_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("logLine");
        QTest::newRow("target") << "en" << "Stale lyrics fetch discarded.";
        QTest::newRow("not target") << "ja" << "Stale lyrics fetch discarded (not target language).";
    }
    void staleLyricsAreDropped()
    {
        QFETCH(QString, language);
        QFETCH(QString, logLine);
        Rig rig;
        const CancellationToken bStarted = rig.lyricsFor(QStringLiteral("A"), language).hold(); // A's answer comes late
        rig.lyricsFor(QStringLiteral("B"));
        rig.coordinator.start();
        rig.play(track(QStringLiteral("A")));
        QTRY_COMPARE(rig.remote->scripts.calls(), 1);
        QVERIFY(rig.switchTo(track(QStringLiteral("B"))));
        bStarted.cancel();

        QTRY_VERIFY(rig.vm.cards().size() == 4 && rig.idle());
        QTRY_VERIFY(SessionLogCapture::contains(logLine));
        QCOMPARE(rig.vm.track()->title, QStringLiteral("B"));
        QVERIFY(!rig.vm.notTargetLanguageState().has_value());
        QCOMPARE(rig.llm->script.calls(), 1);
        QCOMPARE(rig.llm->requests.first().title, QStringLiteral("B"));
        QVERIFY(!rig.stored(track(QStringLiteral("A")).songKey()).has_value());
    }

    // A card failure that arrives after the song changed stays off the new song's screen.
    void lateCardErrorOfReplacedSong()
    {
        Rig rig;
        rig.lyricsFor(QStringLiteral("A"));
        const CancellationToken aFailed = rig.lyricsFor(QStringLiteral("B")).hold(); // until A's failure is seen
        FakeCallScript<QList<GoldenCard>> &cardsA = rig.llm->script[QStringLiteral("A")];
        cardsA.outcomes = {FakeOutcome<QList<GoldenCard>>::failure(RemoteCardsError::server(500))};
        cardsA.ignoresCancellation = true;
        const CancellationToken bStarted = cardsA.hold(); // A's failure arrives once B has started
        rig.coordinator.start();
        rig.play(track(QStringLiteral("A")));
        QTRY_COMPARE_WITH_TIMEOUT(cardsA.calls, 1, storeBoundWait);
        QVERIFY(rig.switchTo(track(QStringLiteral("B"))));
        bStarted.cancel();
        QTRY_VERIFY(SessionLogCapture::contains("LLM card generation failed:"));
        QVERIFY(!rig.vm.errorState().has_value());
        QVERIFY(!rig.vm.cardsErrorDetail().has_value());
        QVERIFY(rig.vm.isLoadingLyrics()); // B's lookup is still running: its flag stays
        aFailed.cancel();
        QTRY_VERIFY(rig.vm.cards().size() == 4 && rig.idle());
        QVERIFY(!rig.vm.errorState().has_value());
    }

    // Work of song A that ends after B started writes neither A's record beyond that stage nor
    // B's screen: cards arriving late are not stored or shown, cards whose save was still
    // running are not shown, a late story is not saved, and a lyrics save that was still
    // running counts no play.
    void replacedSongsLateWork_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::newRow("cards") << "cards";
        QTest::newRow("cards save") << "cards save";
        QTest::newRow("story") << "story";
        QTest::newRow("lyrics save") << "lyrics save";
    }
    void replacedSongsLateWork()
    {
        QFETCH(QString, stage);
        Rig rig;
        const QString keyA = track(QStringLiteral("A")).songKey();
        rig.lyricsFor(QStringLiteral("A"));
        // B's lyrics come late: A's late work is over before B's screen fills.
        rig.lyricsFor(QStringLiteral("B"), QStringLiteral("en"), 400ms);
        // Each song answers with its own, whichever asks first; A's late answer waits until B has started.
        FakeCallScript<QList<GoldenCard>> &cardsA = rig.llm->script[QStringLiteral("A")];
        cardsA.ignoresCancellation = true;
        cardsA.outcomes = {FakeOutcome<QList<GoldenCard>>::success({card(QStringLiteral("A's card"), 1)})};
        rig.llm->script[QStringLiteral("B")].outcomes = {FakeOutcome<QList<GoldenCard>>::success({card("B's card", 2)})};
        FakeCallScript<SongStory> &storyA = rig.story->script[keyA];
        storyA.outcomes = {FakeOutcome<SongStory>::success(SongStory{"A", "Artist", "A's story"})};
        rig.story->script[track(QStringLiteral("B")).songKey()].outcomes = {
            FakeOutcome<SongStory>::success(SongStory{"B", "Artist", "B's story"})};
        const CancellationToken bStarted = stage == "story" ? storyA.hold() : cardsA.hold();
        QStringList shownForB;
        const auto showsB = [&rig] { return rig.vm.track() && rig.vm.track()->title == QStringLiteral("B"); };
        connect(&rig.vm, &PlayerViewModel::cardsChanged, this, [&] {
            if (showsB())
                shownForB << ids(rig.vm.cards());
        });
        connect(&rig.vm, &PlayerViewModel::currentStoryChanged, this, [&] {
            if (showsB() && rig.vm.currentStory())
                shownForB << rig.vm.currentStory()->article;
        });
        // Holding the file's write lock keeps A's save waiting until B has started.
        SqliteDatabase lock = SqliteDatabase::open(rig.storePath);
        const bool holdsSave = stage.endsWith(QLatin1String("save"));
        if (stage == "lyrics save")
            lock.exec(QStringLiteral("BEGIN IMMEDIATE"));

        rig.coordinator.start();
        rig.play(track(QStringLiteral("A")));
        if (stage == "cards") {
            QTRY_COMPARE(cardsA.calls, 1);
        } else if (stage == "cards save") {
            QTRY_COMPARE(cardsA.calls, 1);
            lock.exec(QStringLiteral("BEGIN IMMEDIATE"));
            bStarted.cancel();
            QTRY_COMPARE(cardsA.finished, 1); // A is still playing: its cards go to the store
        } else if (stage == "story") {
            QTRY_COMPARE(storyA.calls, 1);
        } else {
            QTRY_VERIFY(rig.vm.lyricsResult().has_value());
        }
        QVERIFY(rig.switchTo(track(QStringLiteral("B"))));
        bStarted.cancel();
        if (holdsSave)
            lock.exec(QStringLiteral("ROLLBACK"));

        // B's screen (the coordinator may have moved on to B before the view model shows it).
        QTRY_VERIFY_WITH_TIMEOUT(showsB() && rig.vm.cards().size() == 1 && rig.idle() && rig.vm.currentStory().has_value(),
                                 storeBoundWait);
        QTRY_VERIFY(cardsA.finished == cardsA.calls && storyA.finished == storyA.calls); // A's late answers are in
        QCOMPARE(ids(rig.vm.cards()), QStringList{"B's card"});
        QCOMPARE(rig.vm.currentStory()->article, QStringLiteral("B's story"));
        QVERIFY2(!shownForB.join(u',').contains(QLatin1String("A's")), qPrintable(shownForB.join(u',')));

        const std::optional<SongRecordSnapshot> a = rig.stored(keyA);
        QVERIFY(a.has_value());
        if (stage == "cards")
            QVERIFY(a->cards.isEmpty());
        else if (stage == "cards save")
            QTRY_COMPARE(rig.stored(keyA)->cards.size(), 1);
        else if (stage == "story")
            QCOMPARE(a->storyArticle, std::nullopt);
        else
            QCOMPARE(a->playCount, 0);
    }

    // Not-target lyrics and missing lyrics both remove the song's record, but never the user's
    // cards or favourite mark.
    void recordRemovalKeepsUserData_data()
    {
        QTest::addColumn<bool>("notFound");
        QTest::addColumn<QString>("existing");
        QTest::addColumn<bool>("kept");
        for (bool notFound : {false, true}) {
            const char *what = notFound ? "not found" : "not target";
            QTest::addRow("%s, no record", what) << notFound << "none" << false;
            QTest::addRow("%s, bare record", what) << notFound << "bare" << false;
            QTest::addRow("%s, record with cards", what) << notFound << "cards" << true;
            QTest::addRow("%s, favourite record", what) << notFound << "favourite" << true;
        }
    }
    void recordRemovalKeepsUserData()
    {
        QFETCH(bool, notFound);
        QFETCH(QString, existing);
        QFETCH(bool, kept);
        Rig rig;
        const NowPlayingTrack t = track(QStringLiteral("Song"));
        const QString key = t.songKey();
        if (existing == QLatin1String("bare") || existing == QLatin1String("favourite"))
            await(rig.actor->recordPlay(key, t.title, t.artist));
        if (existing == QLatin1String("favourite"))
            await(rig.actor->toggleFavorite(key));
        if (existing == QLatin1String("cards"))
            await(rig.actor->upsertSong(key, t.title, t.artist, QString(), std::nullopt, {card("x", 1)}));
        rig.remote->scripts[t.title].outcomes = {
            notFound ? FakeOutcome<RemoteLyricsFetchResult>::failure(RemoteLyricsError::notFound())
                     : FakeOutcome<RemoteLyricsFetchResult>::success(lyrics("ja"))};

        rig.coordinator.start();
        rig.play(t);
        if (notFound) {
            QTRY_COMPARE(rig.vm.errorState(), std::optional<CantorellaError>(CantorellaError::lyricsNotFound()));
            QVERIFY(SessionLogCapture::contains("Lyrics error (notFound): 未找到这首歌的歌词。"));
        } else {
            QTRY_COMPARE(rig.vm.notTargetLanguageState(), std::optional<QString>(QStringLiteral("ja")));
            QCOMPARE(rig.vm.lyricLines().size(), 3);
        }
        QTRY_VERIFY(rig.idle());
        QTRY_COMPARE(rig.stored(key).has_value(), kept); // the removal runs after the state is shown
        QVERIFY(rig.vm.cards().isEmpty());
        QCOMPARE(rig.llm->script.calls(), 0);

        // Only a failed lookup is retried; missing lyrics are not.
        rig.coordinator.retryLyrics();
        QTest::qWait(50);
        QCOMPARE(rig.remote->scripts.calls(), 1);
    }

    void lookupFailuresThenRetry_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("log");
        QTest::newRow("transport") << 0 << "网络连接失败，请检查网络后重试。"
                                   << "Lyrics error (transport): 网络连接失败,请检查网络后重试。";
        QTest::newRow("server") << 1 << "服务器暂时不可用，请稍后重试。"
                                << "Lyrics error (serverError): 服务器暂时不可用,稍后会自动重试。";
        QTest::newRow("parse") << 2 << "歌词响应格式异常，请稍后再试。"
                               << "Lyrics error (parse): 歌词响应格式异常,请稍后再试。";
        QTest::newRow("refused") << 3 << "歌词请求被拒绝，请稍后再试。"
                                 << "Lyrics error (http4xxOther): 请求被拒绝,请稍后再试。";
    }
    void lookupFailuresThenRetry()
    {
        QFETCH(int, kind);
        QFETCH(QString, detail);
        QFETCH(QString, log);
        const RemoteLyricsError errors[] = {RemoteLyricsError::transport(QNetworkReply::ConnectionRefusedError),
                                            RemoteLyricsError::server(503), RemoteLyricsError::decode("bad"),
                                            RemoteLyricsError::server(403)};
        Rig rig;
        rig.remote->scripts[QStringLiteral("Song")].outcomes = {
            FakeOutcome<RemoteLyricsFetchResult>::failure(errors[kind]),
            FakeOutcome<RemoteLyricsFetchResult>::success(lyrics("en"))};
        rig.coordinator.start();
        rig.play(track(QStringLiteral("Song")));

        QTRY_COMPARE(rig.vm.lyricsErrorDetail(), std::optional<QString>(detail));
        QCOMPARE(rig.vm.errorState(), std::optional<CantorellaError>(CantorellaError::lyricsUnavailable()));
        QVERIFY(rig.idle());
        QVERIFY(SessionLogCapture::contains(log));
        QCOMPARE(rig.remote->scripts.calls(), 1); // never retried by itself

        rig.coordinator.retryLyrics();
        QTRY_VERIFY(rig.vm.cards().size() == 4 && rig.idle());
        QVERIFY(!rig.vm.errorState().has_value());
        QCOMPARE(rig.remote->scripts.calls(), 2);
        QTRY_COMPARE(rig.stored(track(QStringLiteral("Song")).songKey())->playCount, 1);
    }

    void cardTransportFailureIsTriedOnceMore_data()
    {
        QTest::addColumn<bool>("secondFails");
        QTest::newRow("second succeeds") << false;
        QTest::newRow("second fails") << true;
    }
    void cardTransportFailureIsTriedOnceMore()
    {
        QFETCH(bool, secondFails);
        Rig rig;
        rig.lyricsFor(QStringLiteral("Song"));
        const auto transport = RemoteCardsError::transport(QNetworkReply::RemoteHostClosedError);
        const auto good = rig.llm->script.any.outcomes.first();
        rig.llm->script.any.outcomes = {FakeOutcome<QList<GoldenCard>>::failure(transport),
                                    secondFails ? FakeOutcome<QList<GoldenCard>>::failure(transport) : good, good};
        rig.coordinator.start();
        rig.play(track(QStringLiteral("Song")));

        QTRY_COMPARE(rig.clock.pendingSleepers(), 1);
        QCOMPARE(rig.llm->script.calls(), 1);
        rig.clock.advance(599ms);
        QTest::qWait(20);
        QCOMPARE(rig.llm->script.calls(), 1);
        rig.clock.advance(1ms);
        QTRY_COMPARE(rig.llm->script.calls(), 2);
        if (!secondFails) {
            QTRY_VERIFY(rig.vm.cards().size() == 4 && rig.idle());
            return;
        }
        QTRY_COMPARE(rig.vm.errorState(), std::optional<CantorellaError>(CantorellaError::cardsUnavailable()));
        QCOMPARE(rig.vm.cardsErrorDetail(), std::optional<QString>(transport.errorDescription()));
        QVERIFY(rig.idle());
        QCOMPARE(rig.clock.pendingSleepers(), 0);
        QCOMPARE(rig.llm->script.calls(), 2); // no third attempt
        QVERIFY(SessionLogCapture::contains("LLM card generation failed:"));

        rig.coordinator.retryCards();
        QTRY_VERIFY(rig.vm.cards().size() == 4 && rig.idle());
        QVERIFY(!rig.vm.errorState().has_value());
        QCOMPARE(rig.llm->script.calls(), 3);
        QVERIFY(SessionLogCapture::contains("CardRetry ok in"));
    }

    // A store whose cards cannot be read is not a store without cards: nothing is generated
    // (generating would replace the stored cards and their marks).
    void unreadableStoreIsNotRegeneratedOver()
    {
        QTemporaryDir prepared;
        const QString path = prepared.filePath(QStringLiteral("store.sqlite"));
        const NowPlayingTrack t = track(QStringLiteral("Song"));
        {
            auto container = StoreContainer::open(path);
            CardStoreActor actor(container);
            await(actor.upsertSong(t.songKey(), t.title, t.artist, QString(), std::nullopt, {card("kept", 1)}));
            await(actor.toggleMastered(QStringLiteral("kept|phrase"), t.songKey()));
            // Every read of the song's cards fails; every write fails too, so no commit makes the
            // main-thread store re-read the song.
            auto db = container->connect();
            db.exec(QStringLiteral("ALTER TABLE cards RENAME TO cards_away"));
            db.exec(QStringLiteral("CREATE TRIGGER no_update BEFORE UPDATE ON songs BEGIN SELECT RAISE(ABORT, 'x'); END"));
            db.exec(QStringLiteral("CREATE TRIGGER no_insert BEFORE INSERT ON songs BEGIN SELECT RAISE(ABORT, 'x'); END"));
        }
        Rig rig(path);
        rig.lyricsFor(t.title);
        rig.coordinator.start();
        rig.play(t);
        QTRY_COMPARE(rig.vm.errorState(), std::optional<CantorellaError>(CantorellaError::cardsUnavailable()));
        QVERIFY(rig.idle());
        QCOMPARE(rig.llm->script.calls(), 0);
        QVERIFY(SessionLogCapture::contains("Stored cards could not be read"));
    }

    void lifecycle()
    {
        Rig rig;
        rig.lyricsFor(QStringLiteral("Song")).hold(); // the lookup is still running when the coordinator stops
        rig.coordinator.stop(); // before start: nothing
        rig.coordinator.start();
        rig.coordinator.start();
        QCOMPARE(rig.source->startCount, 1);
        QVERIFY(SessionLogCapture::count("SessionCoordinator started") == 1);

        rig.play(track(QStringLiteral("Song")));
        QTRY_COMPARE(rig.remote->scripts.calls(), 1);
        QCOMPARE(rig.vm.songSessionId(), quint64(1));
        QVERIFY(rig.vm.isLoadingLyrics());

        rig.coordinator.stop();
        QVERIFY(rig.idle());
        QVERIFY(!rig.coordinator.currentKey().has_value());
        QCOMPARE(rig.source->stopCount, 1);
        QSignalSpy lyricsSpy(&rig.vm, &PlayerViewModel::lyricsResultChanged);
        QSignalSpy loadingSpy(&rig.vm, &PlayerViewModel::isLoadingLyricsChanged);
        QSignalSpy cardsLoadingSpy(&rig.vm, &PlayerViewModel::isLoadingCardsChanged);
        QSignalSpy sessionSpy(&rig.vm, &PlayerViewModel::songSessionIdChanged);
        QTest::qWait(400);
        QVERIFY(lyricsSpy.isEmpty() && loadingSpy.isEmpty() && cardsLoadingSpy.isEmpty() && sessionSpy.isEmpty());
        QCOMPARE(rig.llm->script.calls(), 0);
        QTRY_VERIFY(SessionLogCapture::contains("SessionCoordinator track stream ended"));

        // Single use: a stopped coordinator stays stopped, and a restore cannot revive it.
        rig.coordinator.start();
        QVERIFY(!rig.coordinator.isStarted());
        await(rig.coordinator.reloadCurrentTrack());
        QVERIFY(sessionSpy.isEmpty());
    }

    void restoreHooks()
    {
        Rig rig;
        const NowPlayingTrack t = track(QStringLiteral("Song"));
        const QString key = t.songKey();
        rig.lyricsFor(t.title);
        rig.llm->script.any.hold(); // the cards are still being written when the restore begins
        rig.coordinator.start();
        rig.play(t);
        QTRY_VERIFY(rig.vm.isLoadingCards() && rig.llm->script.calls() == 1);
        QTRY_VERIFY(rig.vm.currentStory().has_value());
        rig.vm.setIsStoryModalOpen(true);

        // The restore begins while the cards are being written: that work ends and writes nothing.
        rig.coordinator.prepareForRestore();
        QVERIFY(rig.idle());
        QVERIFY(!rig.vm.currentStory().has_value());
        QVERIFY(!rig.vm.isStoryModalOpen());
        QCOMPARE(rig.coordinator.currentKey(), std::optional<QString>(key));
        QTRY_COMPARE(rig.llm->script.any.cancelled, 1);
        QTest::qWait(50);
        QVERIFY(rig.vm.cards().isEmpty());
        QVERIFY(!rig.vm.errorState().has_value());
        QVERIFY(rig.stored(key)->cards.isEmpty());

        // The restore replaces the library.
        await(rig.actor->upsertSong(key, t.title, t.artist, lrcText, QStringLiteral("en"),
                                    {card("restored two", 8), card("restored one", 2)}));
        await(rig.actor->saveStory(key, t.title, t.artist, QStringLiteral("Restored story.")));
        const qint64 plays = rig.stored(key)->playCount;

        const quint64 session = rig.vm.songSessionId();
        await(rig.coordinator.reloadCurrentTrack());
        QVERIFY(rig.vm.songSessionId() > session);
        QTRY_VERIFY(rig.vm.cards().size() == 2 && rig.idle());
        QCOMPARE(ids(rig.vm.cards()), (QStringList{"restored one", "restored two"}));
        QCOMPARE(rig.vm.currentStory()->article, QStringLiteral("Restored story."));
        QCOMPARE(rig.llm->script.calls(), 1);
        QCOMPARE(rig.stored(key)->playCount, plays);
    }

    void storyFailureWithoutProviderIsOnlyLogged()
    {
        Rig rig;
        SessionCoordinator bare(&rig.monitor, rig.lyricsRepository, rig.cardsRepository, rig.llm, &rig.cardStore,
                                rig.actor, &rig.vm);
        rig.lyricsFor(QStringLiteral("Song"));
        bare.start();
        rig.play(track(QStringLiteral("Song")));
        QTRY_VERIFY(rig.vm.cards().size() == 4 && rig.idle());
        QTRY_VERIFY(SessionLogCapture::contains("no story provider configured"));
        QVERIFY(SessionLogCapture::contains("Story fetch failed:"));
        QVERIFY(!rig.vm.currentStory().has_value());
        QVERIFY(!rig.vm.errorState().has_value());
        bare.stop();
    }
};

QTEST_GUILESS_MAIN(TestSessionCoordinator)
#include "tst_sessioncoordinator.moc"
