// A restore is one transaction: a store that fails part-way (a write refused after song 1,
// after song 500, at the last song, a full disk) leaves the library exactly as it was, and
// the objects the screens held end as a wipe of the library leaves them.

#include "BackupTestUtil.h"
#include "FakeBackupProvider.h"
#include "TaskRunner.h"

#include "account/BackupCoordinator.h"
#include "account/BackupService.h"
#include "core/store/CardStoreActor.h"

#include <QPointer>
#include <QtTest>

namespace {

constexpr int songCount = 600;

struct Rig
{
    TempStore temp;
    CardStore store{temp.container};
    // The background store the restore runs on, which holds objects of its own.
    std::shared_ptr<CardStoreActor> actor = std::make_shared<CardStoreActor>(temp.container);
    BackupService service{&store, QStringLiteral("en"), nullptr, actor};
    std::shared_ptr<FakeBackupProvider> provider = std::make_shared<FakeBackupProvider>();
    BackupCoordinator coordinator{&service, provider};

    Rig() { seedLibrary(store); }

    BackupCoordinator::Status restore(const QByteArray &document)
    {
        provider->downloadScript.outcomes = {FakeOutcome<std::optional<QByteArray>>::success(document)};
        TaskRunner::run(coordinator.restore());
        return coordinator.status();
    }
};

} // namespace

class TestBackupRestore : public QObject
{
    Q_OBJECT

private slots:
    void storeFailureChangesNothing_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("when");
        QTest::newRow("after song 1") << "songs" << "NEW.key = 'song 1'";
        QTest::newRow("after song 500") << "songs" << "NEW.key = 'song 500'";
        QTest::newRow("at the last song") << "songs" << QStringLiteral("NEW.key = 'song %1'").arg(songCount - 1);
        QTest::newRow("a card of song 300") << "cards" << "NEW.song_key = 'song 300'";
    }

    void storeFailureChangesNothing()
    {
        QFETCH(QString, table);
        QFETCH(QString, when);
        Rig rig;
        rig.temp.failWrites(QStringLiteral("INSERT"), table, when);
        const QString before = fingerprint(rig.temp.path);
        QCOMPARE(rig.restore(generatedDocument(songCount, 3)), BackupCoordinator::Status::RestoreFailed);
        QCOMPARE(fingerprint(rig.temp.path), before);

        // The same store takes the document once the fault is gone.
        rig.temp.stopFailing();
        QCOMPARE(rig.restore(generatedDocument(songCount, 3)), BackupCoordinator::Status::RestoreSucceeded);
        QCOMPARE(rig.store.allSongs().size(), songCount);
    }

    void documentTooBigForTheDisk()
    {
        Rig rig;
        // The restore writes through a connection of its own: every connection to the file
        // is limited to a few pages more than it holds now.
        SqliteDatabase::Options options;
        options.maxPageCount = rig.temp.count(QStringLiteral("PRAGMA page_count")) + 16;
        CardStore store(StoreContainer::open(rig.temp.path, options));
        BackupService service(&store, QStringLiteral("en"));
        BackupCoordinator coordinator(&service, rig.provider);
        const QString before = fingerprint(rig.temp.path);
        const QByteArray document = generatedDocument(songCount, 3, 1024);
        rig.provider->downloadScript.outcomes = {FakeOutcome<std::optional<QByteArray>>::success(document)};
        TaskRunner::run(coordinator.restore());
        QCOMPARE(coordinator.status(), BackupCoordinator::Status::RestoreFailed);
        QCOMPARE(fingerprint(rig.temp.path), before);
        try {
            await(service.importBackup(document));
            QFAIL("the document fitted");
        } catch (const StoreError &error) {
            QCOMPARE(error.resultCode(), SQLITE_FULL);
        }
        QCOMPARE(fingerprint(rig.temp.path), before);
    }

    // What the screens held before a restore is deleted with the old library: the objects
    // are released later (deleteLater), and a write through one reaches nothing.
    void heldObjectsAfterRestore()
    {
        Rig rig;
        QList<QPointer<StoredModel>> held;
        for (SongRecord *song : rig.store.allSongs()) {
            held << song;
            for (LearnedCard *card : song->cards())
                held << card;
        }
        for (LearnedCard *card : rig.store.masteredCards())
            held << card;
        SongRecord *song = rig.store.record(QStringLiteral("old|one"));
        LearnedCard *card = song->cards().first();

        // Waits with queued calls only, so that what the restore released is not deleted yet.
        rig.provider->downloadScript.outcomes = {FakeOutcome<std::optional<QByteArray>>::success(baseDocument)};
        auto restoring = TaskRunner::start(rig.coordinator.restore());
        for (QDeadlineTimer deadline(10'000); !restoring->done() && !deadline.hasExpired(); QThread::msleep(1))
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QVERIFY(restoring->done());
        QCOMPARE(rig.coordinator.status(), BackupCoordinator::Status::RestoreSucceeded);
        for (const QPointer<StoredModel> &object : std::as_const(held))
            QVERIFY(object && object->isDeleted() && !object->modelContext());
        const QString restored = fingerprint(rig.temp.path);

        song->setTitle(QStringLiteral("written through a held song"));
        card->setCn(QStringLiteral("written through a held card"));
        rig.store.toggleFavorite(card);
        rig.store.markMastered(card);
        rig.store.context().save();
        QCOMPARE(fingerprint(rig.temp.path), restored);

        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QPointer<StoredModel> &object : std::as_const(held))
            QVERIFY(!object);
    }

    // A document of hundreds of megabytes is read and written off the window's thread: the
    // window's event loop keeps turning (a timer on it keeps firing) until the restore is in,
    // and the window's store shows the restored library as soon as the restore returns.
    void theWindowKeepsTurningWhileALargeDocumentIsRestored()
    {
        Rig rig;
        constexpr qsizetype lyricsBytes = 200 * 1024 * 1024;
        QPointer<SongRecord> old = rig.store.record(QStringLiteral("old|one"));
        QByteArray document = generatedDocument(1, 2, lyricsBytes);
        QTimer tick;
        int ticks = 0;
        qint64 longestGap = 0;
        QElapsedTimer sinceTick;
        connect(&tick, &QTimer::timeout, this, [&] {
            ++ticks;
            longestGap = std::max(longestGap, sinceTick.restart());
        });
        tick.start(10);
        sinceTick.start();
        QElapsedTimer elapsed;
        elapsed.start();
        auto outcome = TaskRunner::start(rig.service.importBackup(std::move(document)));
        QVERIFY(TaskRunner::waitUntilDone(outcome, std::chrono::minutes(3)));
        outcome->take();
        tick.stop();
        qInfo("restored in %lld ms; the timer fired %d times, at most %lld ms apart", elapsed.elapsed(), ticks, longestGap);
        QVERIFY2(ticks >= 5, qPrintable(QStringLiteral("the timer fired %1 times").arg(ticks)));

        QVERIFY(!old || old->isDeleted());
        const QList<SongRecord *> songs = rig.store.allSongs();
        QCOMPARE(songs.size(), 1);
        QCOMPARE(songs.first()->lyrics().size(), lyricsBytes);
        QCOMPARE(songs.first()->cards().size(), 2);
    }

    // After a failed restore the held objects, the window's and the background store's, are the
    // library's, as before, and still work.
    void heldObjectsAfterFailedRestore()
    {
        Rig rig;
        SongRecord *song = rig.store.record(QStringLiteral("old|one"));
        LearnedCard *card = song->cards().first();
        const std::optional<SongRecordSnapshot> before = TaskRunner::run(rig.actor->snapshot(QStringLiteral("old|one")));
        QVERIFY(before && before->isFavorite);
        QCOMPARE(rig.restore(withReplaced("\"hard\"", "\"extreme\"")), BackupCoordinator::Status::RestoreFailed);
        rig.temp.failWrites(QStringLiteral("INSERT"), QStringLiteral("songs"), QStringLiteral("NEW.key = 'bo|min'"));
        QCOMPARE(rig.restore(baseDocument), BackupCoordinator::Status::RestoreFailed);

        QCOMPARE(TaskRunner::run(rig.actor->snapshot(QStringLiteral("old|one"))), before);
        QVERIFY(!song->isDeleted() && !card->isDeleted());
        QCOMPARE(rig.store.record(QStringLiteral("old|one")), song);
        QCOMPARE(song->cards().first(), card);
        QVERIFY(card->isMastered());
        rig.store.unmarkMastered(card);
        QCOMPARE(rig.temp.count(QStringLiteral("SELECT count(*) FROM cards WHERE is_mastered = 1")), 0);

        QVERIFY(!TaskRunner::run(rig.actor->toggleFavorite(QStringLiteral("old|one"))).isFavorite);
        QCOMPARE(rig.temp.count(QStringLiteral("SELECT count(*) FROM songs WHERE is_favorite = 1")), 0);
    }
};

QTEST_GUILESS_MAIN(TestBackupRestore)
#include "tst_backuprestore.moc"
