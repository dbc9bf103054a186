// The window's writes (a heart, "unmark mastered") on the store's background writer: a write's
// task ends once the object shows it, also while the window takes in a large batch of other
// changes; while a restore runs they queue behind it without holding the window's thread, land
// after it on the restored song or card of the same key, and one whose key the restore did not
// bring back is refused and announced once instead of being dropped.

#include "BackupTestUtil.h"
#include "TaskRunner.h"

#include "account/BackupReader.h"
#include "account/BackupService.h"
#include "core/store/CardStoreActor.h"
#include "core/store/ModelContext.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QPointer>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

enum class Write { SongFavorite, CardFavorite, Unmaster, MasterSecond }; // the last: the song's second card

} // namespace

Q_DECLARE_METATYPE(Write)

class TestRestoreWrites : public QObject
{
    Q_OBJECT

    // The seeded song, its mastered first card and its second card.
    struct Seeded
    {
        QPointer<SongRecord> song;
        QPointer<LearnedCard> card;
        QPointer<LearnedCard> second;
    };
    static Seeded seed(CardStore &store)
    {
        seedLibrary(store);
        SongRecord *song = store.record(QStringLiteral("old|one"));
        return {song, song->cards().first(), song->cards().at(1)};
    }

    static void request(CardStore &store, Write write, const Seeded &seeded)
    {
        switch (write) {
        case Write::SongFavorite: store.requestToggleFavorite(seeded.song); break;
        case Write::CardFavorite: store.requestToggleFavorite(seeded.card); break;
        case Write::Unmaster: store.requestSetMastered(seeded.card, false); break;
        case Write::MasterSecond: store.requestSetMastered(seeded.second, true); break;
        }
    }

    // Whether the object shows the write (each write changes the seeded state).
    static bool shows(Write write, const Seeded &seeded)
    {
        if (!seeded.song || !seeded.card)
            return false;
        switch (write) {
        case Write::SongFavorite: return !seeded.song->isFavorite() && !seeded.song->favoritedAt().isValid();
        case Write::CardFavorite: return seeded.card->isFavorite() && seeded.card->favoritedAt().isValid();
        case Write::Unmaster:
            return !seeded.card->isMastered() && !seeded.card->learned() && !seeded.card->masteredAt().isValid();
        case Write::MasterSecond: return seeded.second && seeded.second->isMastered();
        }
        return false;
    }

    // The write's task, and whether the object showed the write at the moment it ended.
    static QCoro::Task<bool> endsShowing(CardStore *store, Write write, Seeded seeded)
    {
        switch (write) {
        case Write::SongFavorite: co_await store->toggleFavoriteInBackground(seeded.song); break;
        case Write::CardFavorite: co_await store->toggleFavoriteInBackground(seeded.card); break;
        case Write::Unmaster: co_await store->setMasteredInBackground(seeded.card, false); break;
        case Write::MasterSecond: co_await store->setMasteredInBackground(seeded.second, true); break;
        }
        co_return shows(write, seeded);
    }

    // One commit of another connection adding `songs` songs the window does not hold.
    static void addSongsElsewhere(const TempStore &temp, int songs)
    {
        ModelContext elsewhere(temp.container, ModelContext::Disposal::Immediate, false);
        elsewhere.perform([&] {
            for (int i = 0; i < songs; ++i) {
                LibrarySongRow song;
                song.key = "elsewhere " + QByteArray::number(i);
                song.cards.emplace_back().en = "phrase";
                elsewhere.insertRows(song);
            }
        });
    }

private slots:
    void writes_data()
    {
        QTest::addColumn<Write>("write");
        // Songs another connection added just before, which the window is taking in.
        QTest::addColumn<int>("batch");
        QTest::newRow("song favourite") << Write::SongFavorite << 0;
        QTest::newRow("card favourite") << Write::CardFavorite << 0;
        QTest::newRow("unmark mastered") << Write::Unmaster << 0;
        QTest::newRow("song favourite, the window taking in a batch") << Write::SongFavorite << 20'000;
        QTest::newRow("card favourite, the window taking in a batch") << Write::CardFavorite << 20'000;
        QTest::newRow("unmark mastered, the window taking in a batch") << Write::Unmaster << 20'000;
    }

    // The write lands, and its task ends only once the object shows it: also when it lands while
    // the window is taking a large batch of other changes in, a slice per turn.
    void writes()
    {
        QFETCH(Write, write);
        QFETCH(int, batch);
        TempStore temp;
        CardStore store(temp.container);
        const Seeded seeded = seed(store);
        QSignalSpy failed(&store, &CardStore::backgroundWriteFailed);
        if (batch > 0) {
            addSongsElsewhere(temp, batch);
            QCoreApplication::sendPostedEvents(&store, QEvent::MetaCall); // the first slice
            QVERIFY(store.isTakingInExternalChanges());
        }
        // Told of commits after the window (listeners are told in the order they came).
        std::atomic<bool> committed = false;
        ModelContext listener(temp.container, ModelContext::Disposal::Immediate, true);
        listener.setExternalChangeNotifier([&committed] { committed = true; });

        auto ending = TaskRunner::start(endsShowing(&store, write, seeded));
        // The window's thread turns no further until the write has committed and the window has
        // heard of it: the batch's remaining slices come after.
        for (QDeadlineTimer deadline(30'000); !committed && !deadline.hasExpired();)
            QThread::msleep(1);
        QVERIFY(committed);
        QCOMPARE(store.isTakingInExternalChanges(), batch > 0);
        QVERIFY(TaskRunner::waitUntilDone(ending));
        QVERIFY2(ending->take(), "the task ended before the object showed the write");
        QCOMPARE(failed.size(), 0);
        QCOMPARE(temp.count("SELECT COUNT(*) FROM songs WHERE is_favorite = 1 OR favorited_at IS NOT NULL"),
                 write == Write::SongFavorite ? 0 : 1);
        QCOMPARE(temp.count("SELECT COUNT(*) FROM cards WHERE is_mastered = 1 OR learned = 1"),
                 write == Write::Unmaster ? 0 : 1);
    }

    void writeQueuedBehindARestore_data()
    {
        QTest::addColumn<Write>("write");
        QTest::addColumn<bool>("keyRestored"); // the restore brings the tapped song and cards back
        QTest::addColumn<bool>("released"); // tapped on the card the restore's merge has just released
        for (const bool restored : {false, true}) {
            const char *how = restored ? ", same key restored" : ", key gone";
            QTest::addRow("song favourite%s", how) << Write::SongFavorite << restored << false;
            QTest::addRow("card favourite%s", how) << Write::CardFavorite << restored << false;
            QTest::addRow("unmark mastered%s", how) << Write::Unmaster << restored << false;
        }
        QTest::newRow("master the second card, same key restored") << Write::MasterSecond << true << false;
        QTest::newRow("unmark mastered on the released card, same key restored") << Write::Unmaster << true << true;
    }

    // A tap while a restore holds the store: the window's thread does not wait; the write runs
    // after the restore. It applies to the restored song or card of the same key; when the
    // restore has none, it changes nothing and is announced, once.
    void writeQueuedBehindARestore()
    {
        QFETCH(Write, write);
        QFETCH(bool, keyRestored);
        QFETCH(bool, released);
        TempStore temp;
        CardStore store(temp.container);
        const Seeded seeded = seed(store);
        // The base document, or the same with its first song and card under the seeded keys
        // (favourite, its card favourite and mastered) and the seeded second card (neither).
        const QByteArray document = keyRestored
            ? withReplaced(R"("tag": "greeting")", R"("tag": "t"}, {"cn": "c", "en": "other", "example": "e", )"
                                                   R"("isFavorite": false, "isMastered": false, "note": "n", "tag": "t")",
                           withReplaced(R"("en": "hello")", R"("en": "kept")",
                                        withReplaced(R"("key": "ann|hello")", R"("key": "old|one")")))
            : baseDocument;
        QSemaphore entered;
        QSemaphore release;
        // A failed check must not leave the restore (and the store's destructor) waiting for ever.
        const auto unblock = qScopeGuard([&release] { release.release(); });
        LibrarySource held = [&entered, &release, document](LibraryWriter &out) {
            entered.release();
            release.acquire(); // the restore's transaction is open meanwhile
            BackupReader::read(document, "en", out);
        };
        auto restoring = TaskRunner::start(store.backgroundWriter()->replaceLibrary(held));
        QTRY_COMPARE(entered.available(), 1);

        QSignalSpy failed(&store, &CardStore::backgroundWriteFailed);
        // The released row taps the card the restore's merge lets go of, before it is deleted.
        connect(&store, &CardStore::objectReleased, this, [&](const StoredModel *object) {
            if (released && object == seeded.card)
                QMetaObject::invokeMethod(this, [&] { seeded.card ? request(store, write, seeded) : void(); }, Qt::QueuedConnection);
        });
        QElapsedTimer call;
        call.start();
        if (!released)
            request(store, write, seeded);
        QVERIFY2(call.elapsed() < 4000, "the tap waited on the store's lock"); // its busy time-out is 5 s
        QCoreApplication::processEvents();
        QVERIFY(failed.isEmpty()); // queued, not refused
        QVERIFY(seeded.song->isFavorite() && seeded.card->isMastered() && !seeded.card->isFavorite());

        release.release();
        QVERIFY(TaskRunner::waitUntilDone(restoring));
        restoring->take();
        QTRY_VERIFY(!seeded.song && !seeded.card); // replaced, released
        await(store.backgroundWriter()->barrier()); // the tap's write has run
        await(store.externalChangesTakenIn());
        if (keyRestored) {
            QCOMPARE(failed.size(), 0);
            SongRecord *song = store.record(QStringLiteral("old|one"));
            QVERIFY(song);
            LearnedCard *card = song->cards().first();
            QCOMPARE(card->cardId(), QStringLiteral("kept|t"));
            // The tap changed the restored objects; everything else is as the backup has it.
            QCOMPARE(song->isFavorite(), write != Write::SongFavorite);
            QCOMPARE(card->isFavorite(), write != Write::CardFavorite);
            QCOMPARE(card->isMastered(), write != Write::Unmaster);
            QCOMPARE(song->cards().at(1)->isMastered(), write == Write::MasterSecond);
            return;
        }
        QTRY_COMPARE(failed.size(), 1);
        try {
            std::rethrow_exception(failed.first().first().value<std::exception_ptr>());
        } catch (const CardStoreActorError &error) {
            QCOMPARE(error.kind(), write == Write::SongFavorite ? CardStoreActorError::Kind::RecordNotFound
                                                                 : CardStoreActorError::Kind::CardNotFound);
        }
        // The restored library as the backup has it: one favourite song, one favourite card, one
        // mastered card.
        QCOMPARE(temp.count("SELECT COUNT(*) FROM songs WHERE is_favorite = 1"), 1);
        QCOMPARE(temp.count("SELECT COUNT(*) FROM cards WHERE is_favorite = 1"), 1);
        QCOMPARE(temp.count("SELECT COUNT(*) FROM cards WHERE is_mastered = 1"), 1);
        QCoreApplication::processEvents();
        QCOMPARE(failed.size(), 1); // one tap, one announcement
    }

    // A write handed over before the restore lands before it, and the restore then replaces it.
    void writeBeforeARestoreLandsFirst()
    {
        TempStore temp;
        CardStore store(temp.container);
        const Seeded seeded = seed(store);
        QSignalSpy failed(&store, &CardStore::backgroundWriteFailed);
        QSignalSpy merged(&store, &CardStore::externalChangesMerged);
        store.requestToggleFavorite(seeded.song);
        BackupService service(&store, QStringLiteral("en"));
        await(service.importBackup(baseDocument));
        QCOMPARE(failed.size(), 0);
        QCOMPARE(describeLibrary(store).left(9), QStringLiteral("ann|hello"));
        QVERIFY(merged.size() >= 1);
    }
};

QTEST_MAIN(TestRestoreWrites)
#include "tst_restorewrites.moc"
