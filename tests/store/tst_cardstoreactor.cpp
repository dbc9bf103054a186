// The background card store, and how its commits reach the main-thread store.

#include "StoreTestUtil.h"

#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/SongOperations.h"
#include "platform/Clock.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

class TestCardStoreActor : public QObject
{
    Q_OBJECT

    QString key = QStringLiteral("artist|song");

private slots:
    void offsetIsRoundedToTheGrid_data()
    {
        QTest::addColumn<double>("given");
        QTest::addColumn<double>("stored");
        QTest::newRow("0.123") << 0.123 << 0.1;
        QTest::newRow("0.125 rounds up") << 0.125 << 0.15000000000000002;
        QTest::newRow("-0.125 away from zero") << -0.125 << -0.15000000000000002;
        QTest::newRow("0.075 falls just short of a half") << 0.075 << 0.05;
        QTest::newRow("0.025") << 0.025 << 0.05;
        QTest::newRow("-0.025") << -0.025 << -0.05;
        QTest::newRow("0.024") << 0.024 << 0.0;
        QTest::newRow("0.3") << 0.3 << 0.30000000000000004;
        QTest::newRow("2.7 clamps") << 2.7 << 2.0;
        QTest::newRow("-3.1 clamps") << -3.1 << -2.0;
        QTest::newRow("+inf clamps") << std::numeric_limits<double>::infinity() << 2.0;
    }
    void offsetIsRoundedToTheGrid()
    {
        QFETCH(double, given);
        QFETCH(double, stored);
        const double got = SongOperations::roundLyricsOffset(given);
        QVERIFY2(got == stored, qPrintable(QString::number(got, 'g', 17)));
    }

    void setLyricsOffsetStoresRoundsAndClears()
    {
        TempStore tmp;
        CardStoreActor actor(tmp.container);
        QVERIFY(!await(actor.setLyricsOffset(key, 0.5)));
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM songs")), 0);

        await(actor.ensureRecord(key, QStringLiteral("T"), QStringLiteral("A"), {}, {}));
        auto snap = await(actor.setLyricsOffset(key, 0.125));
        QVERIFY(snap && snap->lyricsOffset == 0.15000000000000002);
        // Not-a-number and infinities change nothing.
        for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()}) {
            snap = await(actor.setLyricsOffset(key, bad));
            QVERIFY(snap && snap->lyricsOffset == 0.15000000000000002);
        }
        snap = await(actor.setLyricsOffset(key, std::nullopt));
        QVERIFY(snap && !snap->lyricsOffset);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM songs WHERE lyrics_offset IS NULL")), 1);
    }

    void newSongsCountPlaysByHowTheyWereMade()
    {
        TempStore tmp;
        CardStoreActor actor(tmp.container);
        const SongRecordSnapshot played = await(actor.recordPlay(QStringLiteral("played"), QStringLiteral("T"), {}));
        QCOMPARE(played.playCount, 1);
        QCOMPARE(played.lyrics, QString());
        QVERIFY(!played.language);
        QCOMPARE(await(actor.recordPlay(QStringLiteral("played"), QStringLiteral("T"), {})).playCount, 2);

        const SongRecordSnapshot upserted = await(actor.upsertSong(
            key, QStringLiteral("T"), QStringLiteral("A"), QStringLiteral("lrc"), QStringLiteral("en"),
            {golden("b", "t", "cn", 2.0), golden("a", "t", "cn", 1.0)}));
        QCOMPARE(upserted.playCount, 0);
        QCOMPARE(upserted.cards.size(), 2);
        QCOMPARE(upserted.cards[0].id(), QStringLiteral("b|t")); // the upsert's order, not sorted
        QCOMPARE(await(actor.snapshot(key)), std::optional<SongRecordSnapshot>(upserted));

        const SongRecordSnapshot ensured =
            await(actor.ensureRecord(key, QStringLiteral("T2"), QStringLiteral("A"), QStringLiteral("lrc2"), {}));
        QCOMPARE(ensured.cards, upserted.cards);
        QVERIFY(!ensured.language);
        QCOMPARE(ensured.title, QStringLiteral("T2"));
    }

    void togglesNeedTheirSongAndCard()
    {
        TempStore tmp;
        ManualWallClock clock;
        CardStoreActor actor(tmp.container, &clock);
        try {
            await(actor.toggleFavorite(QStringLiteral("nope")));
            QFAIL("no error");
        } catch (const CardStoreActorError &e) {
            QCOMPARE(e, CardStoreActorError::recordNotFound(QStringLiteral("nope")));
        }
        QVERIFY_THROWS_EXCEPTION(CardStoreActorError,
                                 await(actor.saveStory(QStringLiteral("nope"), {}, {}, QStringLiteral("s"))));
        await(actor.upsertSong(key, {}, {}, {}, {}, {golden("a", "t")}));
        try {
            await(actor.toggleMastered(QStringLiteral("a|x"), key));
            QFAIL("no error");
        } catch (const CardStoreActorError &e) {
            QCOMPARE(e, CardStoreActorError::cardNotFound(QStringLiteral("a|x")));
        }

        SongRecordSnapshot snap = await(actor.toggleMastered(QStringLiteral("a|t"), key));
        QVERIFY(snap.cards[0].isMastered && snap.cards[0].learned);
        clock.advance(std::chrono::seconds(3));
        snap = await(actor.toggleMastered(QStringLiteral("a|t"), key));
        QVERIFY(!snap.cards[0].isMastered && !snap.cards[0].learned && !snap.cards[0].masteredAt.isValid());

        snap = await(actor.toggleFavorite(QStringLiteral("a|t"), key));
        QCOMPARE(snap.cards[0].favoritedAt, clock.now());
        snap = await(actor.toggleFavorite(key));
        snap = await(actor.toggleFavorite(key));
        QVERIFY(!snap.isFavorite && !snap.favoritedAt.isValid());

        await(actor.deleteSong(QStringLiteral("nope")));
        await(actor.deleteSong(key));
        QVERIFY(!await(actor.snapshot(key)));
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM cards")), 0);
    }

    void retimeReturnsTheSongEvenWithoutChanges()
    {
        TempStore tmp;
        CardStoreActor actor(tmp.container);
        QVERIFY(!await(actor.retimeCards(key, {{QStringLiteral("a|t"), 1.0}})));
        await(actor.upsertSong(key, {}, {}, {}, {}, {golden("a", "t", "cn", 1.0)}));
        QCOMPARE(await(actor.retimeCards(key, {}))->cards[0].lineTimestamp, std::optional<double>(1.0));
        QCOMPARE(await(actor.retimeCards(key, {{QStringLiteral("a|t"), 4.0}}))->cards[0].lineTimestamp,
                 std::optional<double>(4.0));
    }

    void failedOperationRollsBackAndStaysOut()
    {
        TempStore tmp;
        CardStoreActor actor(tmp.container);
        await(actor.upsertSong(key, QStringLiteral("T"), {}, {}, {}, {golden("a", "t")}));
        tmp.failWrites(QStringLiteral("INSERT"), QStringLiteral("cards"), QStringLiteral("NEW.en = 'boom'"));
        try {
            await(actor.upsertSong(key, QStringLiteral("changed"), {}, {}, {}, {golden("b", "t"), golden("boom", "t")}));
            QFAIL("no error");
        } catch (const StoreError &e) {
            QVERIFY(e.isConstraintViolation());
        }
        QVERIFY_THROWS_EXCEPTION(StoreError, await(actor.upsertSong(QStringLiteral("new"), {}, {}, {}, {},
                                                                    {golden("boom", "t")})));
        tmp.stopFailing();
        await(actor.recordPlay(QStringLiteral("next"), {}, {}));
        const auto snap = await(actor.snapshot(key));
        QCOMPARE(snap->title, QStringLiteral("T"));
        QCOMPARE(snap->cards.size(), 1);
        QCOMPARE(snap->cards[0].id(), QStringLiteral("a|t"));
        QVERIFY(!await(actor.snapshot(QStringLiteral("new"))));
    }

    // Both doors write one song at the same time: each writes only the columns it
    // changed, so neither loses the other's updates.
    void concurrentWritesOfBothDoorsAreAllKept()
    {
        TempStore tmp;
        CardStore store(tmp.container);
        CardStoreActor actor(tmp.container);
        store.recordPlay(key, QStringLiteral("T"), {});
        SongRecord *song = store.record(key);
        constexpr int rounds = 40;
        std::vector<QCoro::Task<SongRecordSnapshot>> plays;
        for (int i = 0; i < rounds; ++i)
            plays.push_back(actor.recordPlay(key, QStringLiteral("T"), {}));
        for (int i = 0; i < rounds; ++i)
            store.toggleFavorite(song);
        for (auto &play : plays)
            await(std::move(play));
        QCOMPARE(tmp.count(QStringLiteral("SELECT play_count FROM songs")), rounds + 1);
        QCOMPARE(tmp.count(QStringLiteral("SELECT is_favorite FROM songs")), 0);
        QTRY_COMPARE(song->playCount(), rounds + 1);
        QVERIFY(!song->isFavorite());
    }

    void actorCommitsReachTheMainThreadStore()
    {
        TempStore tmp;
        CardStore store(tmp.container);
        CardStoreActor actor(tmp.container);
        await(actor.upsertSong(key, QStringLiteral("T"), {}, {}, {}, {golden("a", "t")}));
        QTRY_VERIFY(store.record(key));
        SongRecord *song = store.record(key);
        const QList<LearnedCard *> oldCards = song->cards();
        QSignalSpy merged(&store, &CardStore::externalChangesMerged);
        QSignalSpy plays(song, &SongRecord::playCountChanged);
        QSignalSpy titles(song, &SongRecord::titleChanged);
        QSignalSpy cards(song, &SongRecord::cardsChanged);

        // An unsaved change of this door survives the refresh.
        song->setTitle(QStringLiteral("pending here"));
        await(actor.recordPlay(key, QStringLiteral("from actor"), {}));
        QTRY_COMPARE(plays.count(), 1);
        QCOMPARE(song->playCount(), 1);
        QCOMPARE(song->title(), QStringLiteral("pending here"));
        QCOMPARE(titles.count(), 1);
        QCOMPARE(merged.count(), 1);
        QCOMPARE(merged.first().first().toStringList(), QStringList{key});

        // New cards replace the old objects.
        QPointer<LearnedCard> old = oldCards[0];
        await(actor.upsertSong(key, QStringLiteral("T"), {}, {}, {}, {golden("b", "t"), golden("c", "t")}));
        QTRY_COMPARE(cards.count(), 1);
        QCOMPARE(song->cards().size(), 2);
        QCOMPARE(song->cards()[0]->cardId(), QStringLiteral("b|t"));
        QTRY_VERIFY(old.isNull());

        // And the other way: the actor reads what this door saved.
        store.toggleFavorite(song->cards()[1]);
        QVERIFY(await(actor.snapshot(key))->cards[1].isFavorite);
        QCOMPARE(await(actor.snapshot(key))->title, QStringLiteral("pending here"));

        QPointer<SongRecord> gone = song;
        await(actor.deleteSong(key));
        QTRY_VERIFY(gone.isNull());
        QVERIFY(!store.record(key));
        QCOMPARE(store.favoriteCards().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCardStoreActor)
#include "tst_cardstoreactor.moc"
