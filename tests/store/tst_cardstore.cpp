// The main-thread card store: upsert, the user's toggles, the migration, and what a
// failed operation leaves behind.

#include "StoreTestUtil.h"

#include "core/store/CardStore.h"
#include "platform/Clock.h"

#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

namespace {
QStringList ids(const QList<LearnedCard *> &cards)
{
    QStringList out;
    for (LearnedCard *card : cards)
        out << card->cardId() + QLatin1Char('=') + card->cn();
    return out;
}
} // namespace

class TestCardStore : public QObject
{
    Q_OBJECT

    ManualWallClock m_clock;

    QDateTime at(int seconds) const { return QDateTime::fromSecsSinceEpoch(1'700'000'000 + seconds, Qt::UTC); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("cantorella-tests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_cardstore"));
    }
    void init()
    {
        QSettings().remove(QLatin1String(CardStore::migrationFlagKey));
        m_clock.setNow(at(0));
    }

    void upsertKeepsTheLastOccurrenceOfEachCard()
    {
        TempStore tmp;
        CardStore store(tmp.container, &m_clock);
        SongRecord *song = store.upsertSong(
            QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), QStringLiteral("[00:01.00]x"),
            QStringLiteral("en"),
            {golden("a", "t", "first"), golden("b", "t"), golden("a", "t", "last"), golden("A", "t"),
             golden("a ", "t"), golden("a", "T")});
        QCOMPARE(ids(song->cards()),
                 (QStringList{"b|t=cn", "a|t=last", "A|t=cn", "a |t=cn", "a|T=cn"}));
        // What the file holds, read by a fresh store.
        CardStore reader(tmp.container);
        QCOMPARE(ids(reader.record(QStringLiteral("k"))->cards()), ids(song->cards()));
        QCOMPARE(song->playCount(), 0);
        QCOMPARE(song->language(), std::optional<QString>(QStringLiteral("en")));
    }

    void upsertReplacesCardsButKeepsTheSongsOwnState_data()
    {
        QTest::addColumn<QList<GoldenCard>>("incoming");
        QTest::newRow("same cards again") << QList<GoldenCard>{golden("a", "t"), golden("b", "t")};
        QTest::newRow("no cards") << QList<GoldenCard>{};
    }
    void upsertReplacesCardsButKeepsTheSongsOwnState()
    {
        QFETCH(QList<GoldenCard>, incoming);
        TempStore tmp;
        CardStore store(tmp.container, &m_clock);
        SongRecord *song = store.upsertSong(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), {},
                                            QStringLiteral("en"), {golden("a", "t"), golden("b", "t")});
        store.markMastered(song->cards()[0]);
        store.toggleFavorite(song->cards()[1]);
        store.toggleFavorite(song);
        store.recordPlay(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"));
        store.saveStory(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), QStringLiteral("story"));
        song->setLyricsOffset(0.5);
        store.context().save();
        const SongValues before = song->values();

        m_clock.advance(std::chrono::seconds(60));
        QCOMPARE(store.upsertSong(QStringLiteral("k"), QStringLiteral("T2"), QStringLiteral("A2"), QStringLiteral("L"),
                                  std::nullopt, incoming),
                 song);
        QCOMPARE(song->cards().size(), incoming.size());
        for (LearnedCard *card : song->cards())
            QVERIFY(!card->learned() && !card->isMastered() && !card->isFavorite() && !card->masteredAt().isValid());
        QCOMPARE(song->title(), QStringLiteral("T2"));
        QVERIFY(!song->language());
        QCOMPARE(song->playCount(), before.playCount);
        QCOMPARE(song->lastPlayedAt(), before.lastPlayedAt);
        QCOMPARE(song->favoritedAt(), before.favoritedAt);
        QCOMPARE(song->storyArticle(), before.storyArticle);
        QCOMPARE(song->lyricsOffset(), before.lyricsOffset);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM cards")), incoming.size());
        QCOMPARE(store.masteredCards().size(), 0);
        QCOMPARE(store.favoriteCards().size(), 0);
    }

    void togglesAndMasteredRules()
    {
        TempStore tmp;
        CardStore store(tmp.container, &m_clock);
        SongRecord *song = store.upsertSong(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), {}, {},
                                            {golden("a", "t")});
        LearnedCard *card = song->cards()[0];

        store.toggleFavorite(song);
        QVERIFY(song->isFavorite());
        QCOMPARE(song->favoritedAt(), at(0));
        store.toggleFavorite(song);
        QVERIFY(!song->isFavorite() && !song->favoritedAt().isValid());
        store.toggleFavorite(card);
        store.toggleFavorite(card);
        QVERIFY(!card->isFavorite() && !card->favoritedAt().isValid());

        store.markMastered(card);
        QVERIFY(card->isMastered() && card->learned());
        m_clock.advance(std::chrono::seconds(5));
        store.markMastered(card);
        QCOMPARE(card->masteredAt(), at(5));
        store.unmarkMastered(card);
        QVERIFY(!card->isMastered() && !card->learned() && !card->masteredAt().isValid());

        // Durable, not just in memory.
        CardStore reader(tmp.container);
        LearnedCard *stored = reader.record(QStringLiteral("k"))->cards()[0];
        QVERIFY(!stored->isMastered() && !stored->learned() && !stored->isFavorite());
    }

    void listsSortNewestFirst()
    {
        TempStore tmp;
        CardStore store(tmp.container, &m_clock);
        for (int i = 0; i < 3; ++i) {
            m_clock.setNow(at(i));
            store.recordPlay(QStringLiteral("s%1").arg(i), {}, {});
        }
        SongRecord *s0 = store.record(QStringLiteral("s0"));
        SongRecord *s2 = store.record(QStringLiteral("s2"));
        store.toggleFavorite(s0); // favourited at 2
        m_clock.setNow(at(3));
        store.toggleFavorite(s2);
        store.recordPlay(QStringLiteral("s1"), {}, {}); // played at 3
        QCOMPARE(store.allSongs().first()->key(), QStringLiteral("s1"));
        QCOMPARE(store.favoriteSongs(), (QList<SongRecord *>{s2, s0}));
        QVERIFY(!store.record(QStringLiteral("S1")));
        QVERIFY(!store.record(QStringLiteral(" s1")));
    }

    // The cards step comes first and the songs step second; a failure in either, or in
    // the save, leaves both untouched and the flag unset, so the next call runs it all.
    void migrationRunsOnceAndOnlySetsItsFlagAfterSaving_data()
    {
        QTest::addColumn<QString>("failingTable");
        QTest::addColumn<QString>("failingWhen");
        QTest::newRow("cards step fails") << "cards" << "NEW.is_mastered = 1";
        QTest::newRow("songs step fails") << "songs" << "NEW.play_count = 1";
    }
    void migrationRunsOnceAndOnlySetsItsFlagAfterSaving()
    {
        QFETCH(QString, failingTable);
        QFETCH(QString, failingWhen);
        TempStore tmp;
        CardStore store(tmp.container, &m_clock);
        SongRecord *song = store.upsertSong(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), {}, {},
                                            {golden("keeps-date", "t"), golden("gets-date", "t"), golden("not-learned", "t")});
        store.recordPlay(QStringLiteral("played"), {}, {});
        QList<LearnedCard *> cards = song->cards();
        cards[0]->setLearned(true);
        cards[0]->setMasteredAt(at(-100));
        cards[1]->setLearned(true);
        store.context().save();
        m_clock.setNow(at(50));

        tmp.failWrites(QStringLiteral("UPDATE"), failingTable, failingWhen);
        QVERIFY_THROWS_EXCEPTION(StoreError, store.migrateStudyPanelIfNeeded());
        QVERIFY(!QSettings().value(QLatin1String(CardStore::migrationFlagKey)).toBool());
        QVERIFY(!cards[0]->isMastered() && !cards[1]->isMastered());
        QCOMPARE(song->playCount(), 0);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM cards WHERE is_mastered = 1")), 0);
        tmp.stopFailing();

        store.migrateStudyPanelIfNeeded();
        QVERIFY(QSettings().value(QLatin1String(CardStore::migrationFlagKey)).toBool());
        QVERIFY(cards[0]->isMastered() && cards[1]->isMastered() && !cards[2]->isMastered());
        QCOMPARE(cards[0]->masteredAt(), at(-100));
        QCOMPARE(cards[1]->masteredAt(), at(50));
        QCOMPARE(song->playCount(), 1);
        QCOMPARE(store.record(QStringLiteral("played"))->playCount(), 1);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM cards WHERE is_mastered = 1")), 2);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM songs WHERE play_count = 1")), 2);

        // Once the flag is set, nothing is touched again.
        cards[2]->setLearned(true);
        song->setPlayCount(0);
        store.context().save();
        store.migrateStudyPanelIfNeeded();
        QVERIFY(!cards[2]->isMastered());
        QCOMPARE(song->playCount(), 0);
    }

    // A failed operation rolls back completely: its changes are neither in the file nor
    // pending in the context for the next, unrelated save to write.
    void failedOperationLeavesNothingForTheNextOne()
    {
        TempStore tmp;
        CardStore store(tmp.container, &m_clock);
        SongRecord *song = store.upsertSong(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), {}, {},
                                            {golden("a", "t")});
        QSignalSpy favorite(song, &SongRecord::isFavoriteChanged);
        tmp.failWrites(QStringLiteral("UPDATE"), QStringLiteral("songs"), QStringLiteral("NEW.is_favorite = 1"));
        try {
            store.toggleFavorite(song);
            QFAIL("no error");
        } catch (const StoreError &e) {
            QVERIFY(e.isConstraintViolation());
        }
        QVERIFY(!song->isFavorite());
        QVERIFY(!song->favoritedAt().isValid());
        QCOMPARE(favorite.count(), 2); // set, then put back
        QVERIFY(!store.context().hasChanges());
        tmp.stopFailing();

        store.recordPlay(QStringLiteral("other"), {}, {});
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM songs WHERE is_favorite = 1")), 0);
        // The song is writable again, like any other.
        store.toggleFavorite(song);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM songs WHERE is_favorite = 1")), 1);
        store.toggleFavorite(song);

        // An upsert whose second card cannot be written leaves no song behind.
        tmp.failWrites(QStringLiteral("INSERT"), QStringLiteral("cards"), QStringLiteral("NEW.en = 'boom'"));
        QVERIFY_THROWS_EXCEPTION(StoreError, store.upsertSong(QStringLiteral("new"), {}, {}, {}, {},
                                                              {golden("ok", "t"), golden("boom", "t")}));
        QVERIFY_THROWS_EXCEPTION(StoreError, store.upsertSong(QStringLiteral("k"), QStringLiteral("changed"), {}, {},
                                                              {}, {golden("boom", "t")}));
        QCOMPARE(song->title(), QStringLiteral("T"));
        QCOMPARE(ids(song->cards()), QStringList{"a|t=cn"});
        tmp.stopFailing();
        store.recordPlay(QStringLiteral("third"), {}, {});
        QVERIFY(!store.record(QStringLiteral("new")));
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM cards")), 1);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM songs WHERE title = 'changed'")), 0);
    }

    void failedSaveDiscardsDirectModelWrites_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::newRow("write rejected") << false;
        QTest::newRow("file locked past the busy timeout") << true;
    }
    void failedSaveDiscardsDirectModelWrites()
    {
        QFETCH(bool, busy);
        TempStore tmp;
        SqliteDatabase::Options options;
        options.busyTimeoutMs = 20;
        CardStore store(StoreContainer::open(tmp.path, options), &m_clock);
        store.recordPlay(QStringLiteral("k"), QStringLiteral("T"), {});
        SongRecord *song = store.record(QStringLiteral("k"));
        song->setTitle(QStringLiteral("pending"));
        song->setPlayCount(99);
        {
            SqliteDatabase locker = tmp.raw();
            std::optional<SqliteTransaction> lock;
            if (busy)
                lock.emplace(locker);
            else
                tmp.failWrites(QStringLiteral("UPDATE"), QStringLiteral("songs"),
                               QStringLiteral("NEW.play_count = 99"));
            QVERIFY_THROWS_EXCEPTION(StoreError, store.context().save());
        }
        QCOMPARE(song->title(), QStringLiteral("T"));
        QCOMPARE(song->playCount(), 1);
        QVERIFY(!store.context().hasChanges());
        tmp.stopFailing();
        store.recordPlay(QStringLiteral("k2"), {}, {});
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM songs WHERE title = 'pending'")), 0);
    }

    // A song's cards that could not be read are read again next time, not taken as none.
    void failedCardLoadIsReadAgain()
    {
        TempStore tmp;
        CardStore writer(tmp.container, &m_clock);
        writer.upsertSong(QStringLiteral("k"), QStringLiteral("T"), {}, {}, {}, {golden("a", "t")});
        CardStore store(tmp.container, &m_clock);
        SongRecord *song = store.record(QStringLiteral("k"));
        tmp.raw().exec(QStringLiteral("ALTER TABLE cards RENAME TO cards_away"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Loading the cards of a song failed")));
        QVERIFY(song->cardObjects().isEmpty()); // logged, not thrown into QML
        tmp.raw().exec(QStringLiteral("ALTER TABLE cards_away RENAME TO cards"));
        QCOMPARE(ids(song->cards()), QStringList{"a|t=cn"});
    }

    void transactionIsAllOrNothing()
    {
        TempStore tmp;
        CardStore store(tmp.container, &m_clock);
        SongRecord *kept = store.upsertSong(QStringLiteral("kept"), QStringLiteral("T"), {}, {}, {},
                                            {golden("a", "t")});
        store.markMastered(kept->cards()[0]);
        LearnedCard *keptCard = kept->cards()[0];

        const auto replaceLibrary = [&](bool failAtEnd) {
            store.transaction([&] {
                store.deleteAllSongs();
                SongRecord *song = store.upsertSong(QStringLiteral("restored"), QStringLiteral("R"), {}, {}, {},
                                                    {golden("b", "t")});
                song->setPlayCount(7);
                store.context().save();
                store.applyCardState(QStringLiteral("restored"), QStringLiteral("b"), QStringLiteral("t"), true,
                                     at(1), false, {});
                if (failAtEnd)
                    throw std::runtime_error("restore failed");
            });
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, replaceLibrary(true));
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM songs")), 1);
        QCOMPARE(store.allSongs(), QList<SongRecord *>{kept});
        QVERIFY(!kept->isDeleted());
        QCOMPARE(kept->cards(), QList<LearnedCard *>{keptCard});
        QVERIFY(keptCard->isMastered());
        QCOMPARE(store.masteredCards(), QList<LearnedCard *>{keptCard});

        replaceLibrary(false);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM songs")), 1);
        SongRecord *restored = store.record(QStringLiteral("restored"));
        QCOMPARE(restored->playCount(), 7);
        QCOMPARE(store.masteredCards().size(), 1);
        QVERIFY(kept->isDeleted());
    }

    void failedReplacementLeavesHeldObjectsWritable_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("the source fails at once") << "throw";
        QTest::newRow("the source fails after writing the held song's key twice") << "k,k,throw";
        QTest::newRow("the store refuses a card of the held song") << "other,k:boom";
    }

    // A replacement that fails while this context holds the replaced song and its cards: once it
    // is rolled back, they are the library's objects again, and a write through them reaches
    // their rows.
    void failedReplacementLeavesHeldObjectsWritable()
    {
        QFETCH(QString, failure);
        TempStore tmp;
        CardStore store(tmp.container, &m_clock);
        SongRecord *song = store.upsertSong(QStringLiteral("k"), QStringLiteral("T"), {}, {}, {},
                                            {golden("a", "t"), golden("b", "t")});
        const QList<LearnedCard *> cards = song->cards();
        tmp.failWrites(QStringLiteral("INSERT"), QStringLiteral("cards"), QStringLiteral("NEW.en = 'boom'"));
        // Each step writes the song with that key (with a card "boom" after ':') or throws.
        const LibrarySource source = [&failure](LibraryWriter &out) {
            for (const QString &step : failure.split(QLatin1Char(','))) {
                if (step == QLatin1String("throw"))
                    throw std::runtime_error("restore failed");
                LibrarySongRow row;
                row.key = step.section(QLatin1Char(':'), 0, 0).toUtf8();
                LibraryCardRow card;
                card.en = step.contains(QLatin1Char(':')) ? step.section(QLatin1Char(':'), 1).toUtf8() : "new";
                card.tag = "t";
                row.cards.push_back(card);
                out.write(std::move(row));
            }
        };
        QVERIFY_THROWS_EXCEPTION(std::exception, store.replaceLibrary(source));
        tmp.stopFailing();

        QVERIFY(!song->isDeleted());
        QCOMPARE(song->modelContext(), &store.context());
        QCOMPARE(store.record(QStringLiteral("k")), song);
        QCOMPARE(song->cards(), cards);
        song->setTitle(QStringLiteral("after"));
        cards[1]->setCn(QStringLiteral("after"));
        store.context().save();
        store.toggleFavorite(song);
        store.markMastered(cards[0]);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM songs")), 1);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM songs WHERE title = 'after' AND is_favorite = 1")), 1);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM cards WHERE en = 'a' AND is_mastered = 1")), 1);
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM cards WHERE en = 'b' AND cn = 'after'")), 1);
    }

    // A held object may be behind the file; saving it writes only what changed here, so
    // a write made meanwhile through another connection is kept.
    void savingWritesOnlyTheChangedColumns()
    {
        TempStore tmp;
        CardStore store(tmp.container, &m_clock);
        store.recordPlay(QStringLiteral("k"), QStringLiteral("T"), {});
        SongRecord *song = store.record(QStringLiteral("k"));
        tmp.raw().exec(QStringLiteral("UPDATE songs SET play_count = 5, version = version + 1"));
        store.toggleFavorite(song);
        QCOMPARE(tmp.count(QStringLiteral("SELECT play_count FROM songs")), 5);
        QCOMPARE(tmp.count(QStringLiteral("SELECT is_favorite FROM songs")), 1);
        QCOMPARE(store.allSongs().first()->playCount(), 5);
    }

    void retimeWritesOnlyRealChanges()
    {
        TempStore tmp;
        CardStore store(tmp.container, &m_clock);
        SongRecord *song = store.upsertSong(QStringLiteral("k"), {}, {}, {}, {},
                                            {golden("a", "t", "cn", 1.0), golden("b", "t")});
        // Any write of a card would now fail: a retime that changes nothing must not write.
        tmp.failWrites(QStringLiteral("UPDATE"), QStringLiteral("cards"), QStringLiteral("1"));
        store.retimeCards(song, {{QStringLiteral("a|t"), 1.0}, {QStringLiteral("b|t"), std::nullopt},
                                 {QStringLiteral("zzz|t"), 3.0}});
        store.retimeCards(song, {});
        tmp.stopFailing();
        store.retimeCards(song, {{QStringLiteral("a|t"), std::nullopt}, {QStringLiteral("b|t"), 2.0}});
        QVERIFY(!song->cards()[0]->lineTimestamp());
        QCOMPARE(tmp.count(QStringLiteral("SELECT count(*) FROM cards WHERE line_timestamp = 2.0")), 1);
    }

    void markLearnedNeedsACard()
    {
        TempStore tmp;
        CardStore store(tmp.container, &m_clock);
        SongRecord *song = store.upsertSong(QStringLiteral("k"), {}, {}, {}, {}, {golden("a", "t")});
        store.markLearned(song->cards()[0]->id(), true);
        QVERIFY(song->cards()[0]->learned());
        try {
            store.markLearned(song->id(), true);
            QFAIL("no error");
        } catch (const CardStoreError &e) {
            QCOMPARE(e, CardStoreError::cardNotFound(song->id()));
        }
        QVERIFY_THROWS_EXCEPTION(CardStoreError,
                                 store.markLearned({PersistentIdentifier::Entity::Card, 12345}, true));
    }
};

QTEST_GUILESS_MAIN(TestCardStore)
#include "tst_cardstore.moc"
