#include "platform/BackgroundFileSync.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <latch>

class TstBackgroundFileSync : public QObject
{
    Q_OBJECT

private slots:
    // A write followed by request() is covered by a sync that starts after it, even when the
    // request arrives while an earlier sync still runs; requests made meanwhile share one sync.
    void requestsDuringASyncAreCoalescedNotDropped()
    {
        std::atomic<int> written{0};
        std::atomic<int> syncs{0};
        std::atomic<int> lastSeen{-1};
        std::latch firstStarted(1);
        std::latch releaseFirst(1);
        BackgroundFileSync sync(QStringLiteral("log"), [&](const QString &) {
            if (syncs.fetch_add(1) == 0) {
                firstStarted.count_down();
                releaseFirst.wait();
            }
            lastSeen = written.load();
        });

        written = 1;
        sync.request();
        firstStarted.wait();
        for (int i = 2; i <= 4; ++i) {
            written = i;
            sync.request();
        }
        releaseFirst.count_down();
        sync.waitUntilSynced();
        QCOMPARE(lastSeen.load(), 4);
        QCOMPARE(syncs.load(), 2);
    }

    void destructionRunsTheOwedSync()
    {
        std::atomic<int> syncs{0};
        {
            BackgroundFileSync sync(QStringLiteral("log"), [&](const QString &) { ++syncs; });
            sync.request();
        }
        QCOMPARE(syncs.load(), 1);
        {
            BackgroundFileSync idle(QStringLiteral("log"), [&](const QString &) { ++syncs; });
        }
        QCOMPARE(syncs.load(), 1);
    }

    // The real sync on a file that exists, that is replaced, and that is gone.
    void defaultSyncToleratesMissingAndReplacedFiles()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("store-wal"));
        BackgroundFileSync sync(path);
        sync.request();
        sync.waitUntilSynced();
        for (int round = 0; round < 2; ++round) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("frame");
            file.close();
            sync.request();
            sync.waitUntilSynced();
            QVERIFY(QFile::remove(path));
        }
        sync.request();
        sync.waitUntilSynced();
    }
};

QTEST_GUILESS_MAIN(TstBackgroundFileSync)
#include "tst_backgroundfilesync.moc"
