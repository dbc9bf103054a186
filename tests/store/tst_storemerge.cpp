// Taking in another connection's commits a slice at a time: whatever a commit did to the songs a
// context holds, the context ends as a fresh fetch would find the store, however the work was cut
// into slices; a library replaced under a context that held it is read back in the same slices.

#include "StoreTestUtil.h"

#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/ModelContext.h"

#include <QPointer>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

constexpr int librarySize = 30;

QByteArray keyOf(const char *prefix, int i)
{
    return QByteArray(prefix) + " " + QByteArray::number(i) + "|song";
}

// A library of `count` songs with two cards each, keys starting with `prefix`.
LibrarySource library(const char *prefix, int count, const QByteArray &title = "Title")
{
    return [prefix, count, title](LibraryWriter &out) {
        for (int i = 0; i < count; ++i) {
            LibrarySongRow song;
            song.key = keyOf(prefix, i);
            song.title = title;
            song.artist = "Artist";
            song.lastPlayedAt = 1'700'000'000'000 + i;
            for (int c = 0; c < 2; ++c) {
                LibraryCardRow card;
                card.en = "phrase " + QByteArray::number(c);
                card.tag = "t";
                card.isMastered = c == 0;
                card.masteredAt = 1'700'000'000'000;
                song.cards.push_back(card);
            }
            out.write(std::move(song));
        }
    };
}

// Title, key and card phrases of every song, in the list's order.
QStringList describe(const QList<SongRecord *> &songs)
{
    QStringList out;
    for (SongRecord *song : songs) {
        QStringList cards;
        for (LearnedCard *card : song->cards())
            cards << card->en() + (card->isMastered() ? "*" : "");
        out << song->key() + " " + song->title() + " [" + cards.join(",") + "]";
    }
    return out;
}

enum class Commit { ReplaceWithOtherKeys, ReplaceWithSameKeys, RetitleOne, DeleteOne, EmptyLibrary, None };

// Key, title or phrase of every object, in the list's order.
QStringList describe(const QList<QPointer<StoredModel>> &objects)
{
    QStringList out;
    for (StoredModel *object : objects) {
        if (auto *song = qobject_cast<SongRecord *>(object))
            out << song->key() + " " + song->title();
        else if (auto *card = qobject_cast<LearnedCard *>(object))
            out << card->songKey() + " " + card->en();
    }
    return out;
}

} // namespace

Q_DECLARE_METATYPE(Commit)

class TestStoreMerge : public QObject
{
    Q_OBJECT

private slots:
    void slicedMergeEndsAsAFreshFetch_data()
    {
        QTest::addColumn<Commit>("commit");
        QTest::addColumn<int>("keys");     // changed songs the commit names
        QTest::addColumn<int>("released"); // songs held before that are released
        QTest::newRow("a restore with other keys") << Commit::ReplaceWithOtherKeys << 2 * librarySize << librarySize;
        QTest::newRow("a restore of the same keys") << Commit::ReplaceWithSameKeys << librarySize << librarySize;
        QTest::newRow("one song retitled") << Commit::RetitleOne << 1 << 0;
        QTest::newRow("one song deleted") << Commit::DeleteOne << 1 << 1;
        QTest::newRow("an empty library restored") << Commit::EmptyLibrary << librarySize << librarySize;
    }

    void slicedMergeEndsAsAFreshFetch()
    {
        QFETCH(Commit, commit);
        QFETCH(int, keys);
        QFETCH(int, released);
        TempStore temp;
        CardStoreActor actor(temp.container);
        await(actor.replaceLibrary(library("old", librarySize)));

        // A window's context holding the library, its songs' cards loaded; it learns of the
        // other connection's commits but takes them in only when told.
        ModelContext window(temp.container, ModelContext::Disposal::Deferred, true);
        window.setExternalChangeNotifier([] {});
        QList<QPointer<SongRecord>> held;
        for (SongRecord *song : window.fetchSongs(ModelContext::SongFetch::ByLastPlayedDesc)) {
            song->cards();
            held << song;
        }
        QCOMPARE(held.size(), librarySize);

        switch (commit) {
        case Commit::ReplaceWithOtherKeys: await(actor.replaceLibrary(library("new", librarySize))); break;
        case Commit::ReplaceWithSameKeys: await(actor.replaceLibrary(library("old", librarySize, "Again"))); break;
        case Commit::RetitleOne:
            await(actor.saveStory(QString::fromUtf8(keyOf("old", 3)), "Retitled", "Artist", std::nullopt));
            break;
        case Commit::DeleteOne: await(actor.deleteSong(QString::fromUtf8(keyOf("old", 3)))); break;
        case Commit::EmptyLibrary: await(actor.replaceLibrary(library("none", 0))); break;
        case Commit::None: break;
        }

        // With no time at all, each slice takes in at most one song.
        QVERIFY(window.hasExternalChangesPending());
        int slices = 1;
        while (!window.mergeExternalChangesFor(0ns))
            ++slices;
        QVERIFY2(slices >= keys, qPrintable(QString::number(slices)));
        QVERIFY(!window.hasExternalChangesPending());
        QCOMPARE(window.takeMergedKeys().size(), keys);

        const auto gone = std::count_if(held.begin(), held.end(), [](const QPointer<SongRecord> &song) {
            return !song || song->isDeleted();
        });
        QCOMPARE(int(gone), released);
        ModelContext fresh(temp.container, ModelContext::Disposal::Immediate, false);
        QCOMPARE(describe(window.fetchSongs(ModelContext::SongFetch::ByLastPlayedDesc)),
                 describe(fresh.fetchSongs(ModelContext::SongFetch::ByLastPlayedDesc)));
        QCOMPARE(window.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc).size(),
                 fresh.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc).size());
    }

    void slicedFetchEndsAsAFetchAtOnce_data()
    {
        QTest::addColumn<bool>("cards");    // the mastered cards, else every song by last play
        QTest::addColumn<bool>("held");     // the context holds every object of the list already
        QTest::addColumn<Commit>("commit"); // another connection's, between the first two slices
        QTest::newRow("songs") << false << false << Commit::None;
        QTest::newRow("songs, one deleted, not held") << false << false << Commit::DeleteOne;
        QTest::newRow("songs, one deleted, held") << false << true << Commit::DeleteOne;
        QTest::newRow("songs, one retitled, held") << false << true << Commit::RetitleOne;
        QTest::newRow("cards") << true << false << Commit::None;
        QTest::newRow("cards, held") << true << true << Commit::None;
    }

    void slicedFetchEndsAsAFetchAtOnce()
    {
        QFETCH(bool, cards);
        QFETCH(bool, held);
        QFETCH(Commit, commit);
        constexpr int songs = 200;
        TempStore temp;
        CardStoreActor actor(temp.container);
        await(actor.replaceLibrary(library("old", songs)));
        ModelContext window(temp.container, ModelContext::Disposal::Deferred, true);
        window.setExternalChangeNotifier([] {});
        const auto atOnce = [&](ModelContext &context) {
            QList<QPointer<StoredModel>> out;
            if (cards) {
                for (LearnedCard *card : context.fetchCards(ModelContext::CardFetch::MasteredByMasteredAtDesc))
                    out << card;
            } else {
                for (SongRecord *song : context.fetchSongs(ModelContext::SongFetch::ByLastPlayedDesc))
                    out << song;
            }
            return out;
        };
        QList<QPointer<StoredModel>> heldBefore;
        if (held)
            heldBefore = atOnce(window);

        ModelContext::SlicedFetch fetch = cards ? window.slicedCardFetch(ModelContext::CardFetch::MasteredByMasteredAtDesc)
                                                : window.slicedSongFetch(ModelContext::SongFetch::ByLastPlayedDesc);
        // With no time at all, a slice brings in a few dozen rows.
        QVERIFY(!fetch.step(window, 0ns));
        const QString key = QString::fromUtf8(keyOf("old", 10)); // a row the first slice has not reached
        if (commit == Commit::DeleteOne)
            await(actor.deleteSong(key));
        if (commit == Commit::RetitleOne)
            await(actor.saveStory(key, "Retitled", "Artist", std::nullopt));
        window.mergeExternalChanges();
        int slices = 2;
        while (!fetch.step(window, 0ns))
            ++slices;
        QVERIFY(slices >= 3);

        const QList<QPointer<StoredModel>> list = fetch.take();
        ModelContext fresh(temp.container, ModelContext::Disposal::Deferred, false);
        QCOMPARE(describe(list), describe(atOnce(fresh)));
        QCOMPARE(list.size(), commit == Commit::DeleteOne ? songs - 1 : songs);
        for (const QPointer<StoredModel> &object : heldBefore) {
            if (object && !object->isDeleted())
                QVERIFY(list.contains(object)); // the same objects, not copies
        }
    }

    // The window's store takes a replaced library in over turns of the event loop and announces
    // it once, with every changed key; a waiter ends only then.
    void storeAnnouncesOnceWhenAllIsTakenIn()
    {
        TempStore temp;
        CardStore store(temp.container);
        await(store.backgroundWriter()->replaceLibrary(library("old", librarySize)));
        await(store.externalChangesTakenIn());
        // Released objects may be deleted between two slices (the waits below turn the event
        // loop): held through QPointer, never read once gone.
        QList<QPointer<SongRecord>> before;
        for (SongRecord *song : store.allSongs())
            before << song;
        QCOMPARE(before.size(), librarySize);

        QSignalSpy merged(&store, &CardStore::externalChangesMerged);
        await(store.backgroundWriter()->replaceLibrary(library("new", librarySize)));
        await(store.externalChangesTakenIn());
        QCOMPARE(merged.size(), 1);
        QCOMPARE(merged.first().first().toStringList().size(), 2 * librarySize);
        QVERIFY(!store.isTakingInExternalChanges());
        for (const QPointer<SongRecord> &song : std::as_const(before))
            QVERIFY(!song || song->isDeleted());
        const QList<SongRecord *> after = store.allSongs();
        QCOMPARE(after.size(), librarySize);
        QVERIFY(after.first()->key().startsWith(QStringLiteral("new ")));
    }
};

QTEST_GUILESS_MAIN(TestStoreMerge)
#include "tst_storemerge.moc"
