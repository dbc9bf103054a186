// The stored models, the model context's identity map and cascade, the snapshots and
// the view-side card record.

#include "StoreTestUtil.h"

#include "core/LearnedCardVM.h"
#include "core/store/ModelContext.h"
#include "core/store/Snapshots.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <limits>

class TestStoreModels : public QObject
{
    Q_OBJECT

private slots:
    void newModelsStartFromTheirDefaults_data()
    {
        QTest::addColumn<bool>("learned");
        QTest::newRow("made learned") << true;
        QTest::newRow("made unlearned") << false;
    }
    void newModelsStartFromTheirDefaults()
    {
        QFETCH(bool, learned);
        const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'700'000'000'500, Qt::UTC);
        SongRecord song(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), QString(), {}, now);
        QCOMPARE(song.playCount(), 0);
        QVERIFY(!song.isFavorite());
        QVERIFY(!song.favoritedAt().isValid());
        QVERIFY(!song.language() && !song.storyArticle() && !song.lyricsOffset());
        QCOMPARE(song.lastPlayedAt(), now);

        auto *card = new LearnedCard(QStringLiteral("k"), QStringLiteral("en"), QStringLiteral("cn"), QString(),
                                     QString(), QStringLiteral("tag"), 1.5, learned, &song, std::nullopt,
                                     std::nullopt, std::nullopt, now);
        QCOMPARE(card->isMastered(), learned);
        QCOMPARE(card->masteredAt(), learned ? now : QDateTime());
        QVERIFY(!card->isFavorite() && !card->favoritedAt().isValid());
        QCOMPARE(card->song(), &song);
        QCOMPARE(song.cards(), QList<LearnedCard *>{card});
        delete card;
    }

    void storedHintTextIsReadStrictly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("decodes");
        QTest::newRow("full") << R"({"kind":"weak_form","tip":"t","ipa":"ə"})" << true;
        QTest::newRow("null ipa") << R"({"kind":"stress","tip":"t","ipa":null})" << true;
        QTest::newRow("empty object") << "{}" << false;
        QTest::newRow("not json") << "linking" << false;
        QTest::newRow("kind in capitals") << R"({"kind":"LINKING","tip":"t"})" << false;
        QTest::newRow("no tip") << R"({"kind":"linking"})" << false;
        QTest::newRow("array") << R"([{"kind":"linking","tip":"t"}])" << false;
    }
    void storedHintTextIsReadStrictly()
    {
        QFETCH(QString, text);
        QFETCH(bool, decodes);
        QCOMPARE(LearnedCard::decodeHint(text).has_value(), decodes);
    }

    void hintWithoutIpaIsStoredWithoutTheKey()
    {
        const PronunciationHint hint{PronunciationKind::linking, QStringLiteral("link it"), std::nullopt};
        const std::optional<QString> text = LearnedCard::encodeHint(hint);
        QVERIFY(text);
        const QJsonObject json = QJsonDocument::fromJson(text->toUtf8()).object();
        QCOMPARE(json.keys(), (QStringList{QStringLiteral("kind"), QStringLiteral("tip")}));
        QCOMPARE(LearnedCard::decodeHint(text), std::optional<PronunciationHint>(hint));
        QVERIFY(!LearnedCard::encodeHint(std::nullopt));
    }

    void difficultyTextMatchesExactly_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("expected"); // -1: none
        QTest::newRow("medium") << "medium" << int(ListeningDifficulty::medium);
        QTest::newRow("capitalised") << "Medium" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("padded") << " hard" << -1;
        QTest::newRow("other word") << "impossible" << -1;
    }
    void difficultyTextMatchesExactly()
    {
        QFETCH(QString, raw);
        QFETCH(int, expected);
        const auto got = LearnedCard::decodeDifficulty(raw);
        QCOMPARE(got ? int(*got) : -1, expected);
    }

    void identityMapGivesOneObjectPerRow()
    {
        TempStore store;
        ModelContext ctx(store.container, ModelContext::Disposal::Deferred, false);
        ctx.perform([&] {
            ctx.insert(new SongRecord(QStringLiteral("a"), QStringLiteral("Same"), QStringLiteral("X"), QString()));
            ctx.insert(new SongRecord(QStringLiteral("b"), QStringLiteral("Same"), QStringLiteral("X"), QString()));
        });
        SongRecord *first = ctx.fetchSong(QStringLiteral("a"));
        QCOMPARE(ctx.fetchSong(QStringLiteral("a")), first);
        QVERIFY(ctx.fetchSongs(ModelContext::SongFetch::All).contains(first));
        QCOMPARE(ctx.resolve(first->id()), first);
        SongRecord *other = ctx.fetchSong(QStringLiteral("b"));
        QVERIFY(other != first);
        QVERIFY(!(other->id() == first->id()));
        QCOMPARE(qHash(first->id()), qHash(ctx.fetchSong(QStringLiteral("a"))->id()));
    }

    // List queries reuse held objects whose row is unchanged; a row another connection
    // wrote must be read again, also when this context wrote the same row meanwhile.
    void listQueriesTakeInOtherConnectionsWrites()
    {
        TempStore store;
        ModelContext a(store.container, ModelContext::Disposal::Deferred, false);
        ModelContext b(store.container, ModelContext::Disposal::Deferred, false);
        a.perform([&] {
            auto *song = new SongRecord(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), QString());
            a.insert(song);
            LearnedCard::fromGoldenCard(golden(QStringLiteral("x"), QStringLiteral("t")), song)->setIsMastered(true);
        });
        LearnedCard *held = a.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc).value(0);
        QVERIFY(held);
        QSignalSpy cn(held, &LearnedCard::cnChanged);

        b.perform([&] { b.fetchCards(ModelContext::CardFetch::All)[0]->setCn(QStringLiteral("from b")); });
        // a writes another column of the same row without having seen b's write
        a.perform([&] { held->setNote(QStringLiteral("from a")); });
        QCOMPARE(a.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc), QList<LearnedCard *>{held});
        QCOMPARE(held->cn(), QStringLiteral("from b"));
        QCOMPARE(held->note(), QStringLiteral("from a"));
        QCOMPARE(cn.count(), 1);

        b.perform([&] { b.fetchCards(ModelContext::CardFetch::All)[0]->setIsMastered(false); });
        QVERIFY(a.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc).isEmpty());
        QCOMPARE(a.fetchCards(ModelContext::CardFetch::All), QList<LearnedCard *>{held});
        QVERIFY(!held->isMastered());
    }

    // The card lists of a context that holds none of the cards hand out faults. Each must
    // read its own row when first used, follow the store's rules like a loaded card, and
    // end up deleted when its row goes before it is used.
    void cardsFetchedAsFaultsBehaveLikeLoadedOnes()
    {
        TempStore store;
        ModelContext writer(store.container, ModelContext::Disposal::Deferred, false);
        writer.perform([&] {
            int order = 0;
            for (const char *key : {"k", "other"}) {
                auto *song = new SongRecord(QString::fromLatin1(key), QStringLiteral("T"), QStringLiteral("A"), {});
                writer.insert(song);
                for (int i = 0; i < 3; ++i) {
                    LearnedCard *card = LearnedCard::fromGoldenCard(
                        golden(QStringLiteral("%1-%2").arg(QLatin1String(key)).arg(i), QStringLiteral("t"),
                               QStringLiteral("中%1").arg(i), double(i)),
                        song);
                    card->setIsMastered(true);
                    card->setMasteredAt(QDateTime::fromSecsSinceEpoch(1'700'000'000 + 2 * i + order, Qt::UTC));
                }
                ++order;
            }
        });

        ModelContext ctx(store.container, ModelContext::Disposal::Deferred, false);
        const QList<LearnedCard *> mastered = ctx.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc);
        QCOMPARE(mastered.size(), 6);
        // Another connection changes one row and deletes another before either is used.
        SqliteDatabase raw = store.raw();
        raw.exec(QStringLiteral("UPDATE cards SET cn = 'changed', version = version + 1 WHERE en = 'k-2'"));
        raw.exec(QStringLiteral("DELETE FROM cards WHERE en = 'other-2'"));

        QStringList seen;
        for (LearnedCard *card : mastered)
            seen << card->en() + QLatin1Char('=') + card->cn();
        QCOMPARE(seen, (QStringList{"=", "k-2=changed", "other-1=中1", "k-1=中1", "other-0=中0", "k-0=中0"}));
        QVERIFY(mastered[0]->isDeleted());
        QCOMPARE(mastered[1]->lineTimestamp(), std::optional<double>(2.0));
        SongRecord *k = ctx.fetchSong(QStringLiteral("k"));
        QCOMPARE(mastered[1]->song(), k);
        QCOMPARE(ctx.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc).size(), 5);

        // A write to a fault reads its row first and announces only what really changed.
        LearnedCard *fault = ctx.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc).value(1);
        QCOMPARE(fault, mastered[2]);
        ModelContext fresh(store.container, ModelContext::Disposal::Deferred, false);
        LearnedCard *unread = fresh.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc).value(0);
        QSignalSpy enChanged(unread, &LearnedCard::enChanged);
        QSignalSpy favorite(unread, &LearnedCard::isFavoriteChanged);
        fresh.perform([&] {
            unread->setEn(QStringLiteral("k-2"));
            unread->setIsFavorite(true);
        });
        QCOMPARE(enChanged.count(), 0);
        QCOMPARE(favorite.count(), 1);
        QCOMPARE(store.count(QStringLiteral("SELECT count(*) FROM cards WHERE is_favorite = 1 AND en = 'k-2'")), 1);
        QCOMPARE(store.count(QStringLiteral("SELECT count(*) FROM cards WHERE cn = 'changed'")), 1);
        QCOMPARE(fault->en(), QStringLiteral("other-1"));

        // Deleting a song takes its cards that are still faults with it.
        ModelContext deleter(store.container, ModelContext::Disposal::Deferred, false);
        const QList<LearnedCard *> faults = deleter.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc);
        deleter.perform([&] { deleter.remove(deleter.fetchSong(QStringLiteral("other"))); });
        QCOMPARE(std::count_if(faults.begin(), faults.end(), [](LearnedCard *c) { return c->isDeleted(); }), 2);
        QCOMPARE(deleter.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc).size(), 3);
    }

    void deletingASongDeletesItsCards()
    {
        TempStore store;
        ModelContext ctx(store.container, ModelContext::Disposal::Deferred, false);
        ctx.perform([&] {
            auto *song = new SongRecord(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), QString());
            ctx.insert(song);
            for (const char *en : {"a", "b", "c"})
                LearnedCard::fromGoldenCard(golden(QString::fromLatin1(en), QStringLiteral("t")), song);
            auto *keep = new SongRecord(QStringLiteral("keep"), QStringLiteral("T"), QStringLiteral("A"), QString());
            ctx.insert(keep);
            LearnedCard::fromGoldenCard(golden(QStringLiteral("z"), QStringLiteral("t")), keep);
        });
        // A card fetched on its own, with its song not loaded, goes as well.
        ModelContext other(store.container, ModelContext::Disposal::Deferred, false);
        QList<LearnedCard *> loose = other.fetchCards(ModelContext::CardFetch::All);
        QCOMPARE(loose.size(), 4);
        other.perform([&] { other.remove(other.fetchSong(QStringLiteral("k"))); });
        QCOMPARE(store.count(QStringLiteral("SELECT count(*) FROM cards WHERE song_key = 'k'")), 0);
        QCOMPARE(store.count(QStringLiteral("SELECT count(*) FROM cards")), 1);
        QCOMPARE(other.fetchCards(ModelContext::CardFetch::All).size(), 1);
    }

    void deletingACardLeavesTheSongWithTheRest()
    {
        TempStore store;
        ModelContext ctx(store.container, ModelContext::Disposal::Deferred, false);
        SongRecord *song = ctx.perform([&] {
            auto *song = new SongRecord(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), QString());
            ctx.insert(song);
            for (const char *en : {"a", "b", "c"})
                LearnedCard::fromGoldenCard(golden(QString::fromLatin1(en), QStringLiteral("t")), song);
            return song;
        });
        QSignalSpy cardsChanged(song, &SongRecord::cardsChanged);
        LearnedCard *middle = song->cards()[1];
        ctx.perform([&] { ctx.remove(middle); });
        QCOMPARE(cardsChanged.count(), 1);
        QCOMPARE(song->cards().size(), 2);
        QCOMPARE(store.count(QStringLiteral("SELECT count(*) FROM cards")), 2);
        QVERIFY(ctx.fetchSong(QStringLiteral("k")));
    }

    void propertiesAnnounceOnlyRealChanges()
    {
        SongRecord song(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), QString());
        QSignalSpy title(&song, &SongRecord::titleChanged);
        QSignalSpy offset(&song, &SongRecord::lyricsOffsetChanged);
        song.setTitle(QStringLiteral("T"));
        song.setLyricsOffset(std::nullopt);
        QCOMPARE(title.count(), 0);
        QCOMPARE(offset.count(), 0);
        song.setTitle(QStringLiteral("U"));
        song.setLyricsOffset(0.0);
        song.setLyricsOffset(0.0);
        QCOMPARE(title.count(), 1);
        QCOMPARE(offset.count(), 1);

        LearnedCard card(QStringLiteral("k"), QStringLiteral("en"), QString(), QString(), QString(),
                         QStringLiteral("t"), std::nullopt, false, nullptr, std::nullopt, std::nullopt, std::nullopt);
        QSignalSpy raw(&card, &LearnedCard::listeningDifficultyRawChanged);
        card.setListeningDifficulty(ListeningDifficulty::hard);
        card.setListeningDifficultyRaw(QStringLiteral("hard"));
        card.setListeningDifficulty(std::nullopt);
        QCOMPARE(raw.count(), 2);
        QVERIFY(!card.listeningDifficultyRaw());
    }

    void snapshotsCopyAndConvert()
    {
        TempStore store;
        ModelContext ctx(store.container, ModelContext::Disposal::Immediate, false);
        SongRecord *song = ctx.perform([&] {
            auto *song = new SongRecord(QStringLiteral("k"), QStringLiteral("T"), QStringLiteral("A"), QString());
            ctx.insert(song);
            LearnedCard *mastered = LearnedCard::fromGoldenCard(golden(QStringLiteral("a"), QStringLiteral("t")), song);
            mastered->setIsMastered(true);
            LearnedCard *learnedOnly = LearnedCard::fromGoldenCard(golden(QStringLiteral("b"), QStringLiteral("t")), song);
            learnedOnly->setLearned(true);
            learnedOnly->setPronunciationHintJSON(QStringLiteral("{broken"));
            learnedOnly->setListeningDifficultyRaw(QStringLiteral("Easy"));
            return song;
        });
        const SongRecordSnapshot snap = SongRecordSnapshot::fromRecord(*song);
        QCOMPARE(snap.cards.size(), 2);
        QCOMPARE(snap.cards[0].toViewModel().learned, true);  // mastered
        QCOMPARE(snap.cards[1].toViewModel().learned, false); // learned but not mastered
        QVERIFY(!snap.cards[1].pronunciationHint);
        QVERIFY(!snap.cards[1].listeningDifficulty);
        QCOMPARE(snap.cards[1].toViewModel().id, QStringLiteral("b|t"));
        QCOMPARE(LearnedCardVM::fromCard(*song->cards()[1]).learned, true); // from the model: its own flag

        SongRecordSnapshot reordered = snap;
        std::swap(reordered.cards[0], reordered.cards[1]);
        QVERIFY(!(reordered == snap));
        SongRecordSnapshot refavorited = snap;
        refavorited.cards[0].favoritedAt = QDateTime::fromMSecsSinceEpoch(1, Qt::UTC);
        QVERIFY(!(refavorited == snap));
        QVERIFY(SongRecordSnapshot(snap) == snap);
    }

    void cardsSortByLineTime()
    {
        const auto vm = [](const char *id, std::optional<double> t) {
            LearnedCardVM c;
            c.id = QString::fromLatin1(id);
            c.lineTimestamp = t;
            return c;
        };
        const QList<LearnedCardVM> sorted =
            LearnedCardVM::sortedByLineTimestamp({vm("a", 5), vm("b", std::nullopt), vm("c", 2), vm("d", 5)});
        QStringList ids;
        for (const LearnedCardVM &c : sorted)
            ids << c.id;
        QCOMPARE(ids, (QStringList{"c", "a", "d", "b"}));

        // A NaN time sorts like no time, whatever the input order.
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QList<LearnedCardVM> withNan{vm("n", nan), vm("a", 5), vm("b", std::nullopt), vm("c", 2)};
        for (int rotation = 0; rotation < withNan.size(); ++rotation) {
            std::rotate(withNan.begin(), withNan.begin() + 1, withNan.end());
            ids.clear();
            for (const LearnedCardVM &c : LearnedCardVM::sortedByLineTimestamp(withNan))
                ids << c.id;
            QCOMPARE(ids.mid(0, 2), (QStringList{"c", "a"}));
            QCOMPARE(QSet<QString>(ids.begin() + 2, ids.end()), (QSet<QString>{"n", "b"}));
        }
    }
};

QTEST_GUILESS_MAIN(TestStoreModels)
#include "tst_storemodels.moc"
