// The window's writes (a heart, "unmark mastered") while a restore runs: they queue behind it on
// the store's background writer without holding the window's thread, land after it, and one
// whose row the restore replaced is refused and announced instead of being dropped.

#include "BackupTestUtil.h"
#include "TaskRunner.h"

#include "account/BackupReader.h"
#include "account/BackupService.h"
#include "core/store/CardStoreActor.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>

namespace {

enum class Write { SongFavorite, CardFavorite, Unmaster };

} // namespace

Q_DECLARE_METATYPE(Write)

class TestRestoreWrites : public QObject
{
    Q_OBJECT

    // The seeded song and its mastered first card.
    struct Seeded
    {
        QPointer<SongRecord> song;
        QPointer<LearnedCard> card;
    };
    static Seeded seed(CardStore &store)
    {
        seedLibrary(store);
        SongRecord *song = store.record(QStringLiteral("old|one"));
        return {song, song->cards().first()};
    }

    static void request(CardStore &store, Write write, const Seeded &seeded)
    {
        switch (write) {
        case Write::SongFavorite: store.requestToggleFavorite(seeded.song); break;
        case Write::CardFavorite: store.requestToggleFavorite(seeded.card); break;
        case Write::Unmaster: store.requestSetMastered(seeded.card, false); break;
        }
    }

private slots:
    void writes_data()
    {
        QTest::addColumn<Write>("write");
        QTest::newRow("song favourite") << Write::SongFavorite;
        QTest::newRow("card favourite") << Write::CardFavorite;
        QTest::newRow("unmark mastered") << Write::Unmaster;
    }

    // Without a restore the write lands, and the object shows it once the write's task ends.
    void writes()
    {
        QFETCH(Write, write);
        TempStore temp;
        CardStore store(temp.container);
        const Seeded seeded = seed(store);
        QSignalSpy failed(&store, &CardStore::backgroundWriteFailed);
        switch (write) {
        case Write::SongFavorite:
            await(store.toggleFavoriteInBackground(seeded.song));
            QVERIFY(!seeded.song->isFavorite());
            QCOMPARE(temp.count("SELECT COUNT(*) FROM songs WHERE is_favorite = 1 OR favorited_at IS NOT NULL"), 0);
            break;
        case Write::CardFavorite:
            await(store.toggleFavoriteInBackground(seeded.card));
            QVERIFY(seeded.card->isFavorite() && seeded.card->favoritedAt().isValid());
            break;
        case Write::Unmaster:
            await(store.setMasteredInBackground(seeded.card, false));
            QVERIFY(!seeded.card->isMastered() && !seeded.card->learned() && !seeded.card->masteredAt().isValid());
            QCOMPARE(temp.count("SELECT COUNT(*) FROM cards WHERE is_mastered = 1 OR learned = 1"), 0);
            break;
        }
        QCOMPARE(failed.size(), 0);
    }

    void writeQueuedBehindARestore_data() { writes_data(); }

    // A tap while a restore holds the store: the window's thread does not wait; the write runs
    // after the restore, finds its row replaced, changes nothing and is announced.
    void writeQueuedBehindARestore()
    {
        QFETCH(Write, write);
        TempStore temp;
        CardStore store(temp.container);
        const Seeded seeded = seed(store);
        QSemaphore entered;
        QSemaphore release;
        // A failed check must not leave the restore (and the store's destructor) waiting for ever.
        const auto unblock = qScopeGuard([&release] { release.release(); });
        LibrarySource held = [&entered, &release](LibraryWriter &out) {
            entered.release();
            release.acquire(); // the restore's transaction is open meanwhile
            BackupReader::read(baseDocument, "en", out);
        };
        auto restoring = TaskRunner::start(store.backgroundWriter()->replaceLibrary(held));
        QTRY_COMPARE(entered.available(), 1);

        QSignalSpy failed(&store, &CardStore::backgroundWriteFailed);
        QElapsedTimer call;
        call.start();
        request(store, write, seeded);
        QVERIFY2(call.elapsed() < 4000, "the tap waited on the store's lock"); // its busy time-out is 5 s
        QCoreApplication::processEvents();
        QVERIFY(failed.isEmpty()); // queued, not refused
        QVERIFY(seeded.song->isFavorite() && seeded.card->isMastered() && !seeded.card->isFavorite());

        release.release();
        QVERIFY(TaskRunner::waitUntilDone(restoring));
        restoring->take();
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
        QTRY_VERIFY(!seeded.song && !seeded.card); // replaced, released
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
