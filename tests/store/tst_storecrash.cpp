// Crash safety: a child process writes to the store in a loop and is killed with SIGKILL
// at a random moment; afterwards the file must open, pass the integrity check, and hold
// every write the child reported as done. The child is this executable, started again
// with "--crash-child <store path> <round>".

#include "KilledChild.h"
#include "StoreTestUtil.h"

#include "core/store/CardStore.h"

#include <QCoreApplication>
#include <QMap>
#include <QtTest>

#include <unistd.h>

namespace {

QString songKey(int round, int i)
{
    return QStringLiteral("r%1-s%2").arg(round).arg(i);
}

int cardCount(int i)
{
    return i % 5 + 1;
}

// Operation i of a round: songs 4k and 4k+1 are upserted; 4k+1 is then played once
// (at 4k+2) and deleted (at 4k+3).
struct SongState
{
    qint64 playCount = 0;
    qint64 cards = 0;
    friend bool operator==(const SongState &, const SongState &) = default;
};
using Library = QMap<QString, SongState>;

Library expectedAfter(int round, int operations)
{
    Library library;
    for (int i = 0; i < operations; ++i) {
        switch (i % 4) {
        case 0:
        case 1: library[songKey(round, i)] = SongState{0, cardCount(i)}; break;
        case 2: library[songKey(round, i - 1)].playCount += 1; break;
        case 3: library.remove(songKey(round, i - 2)); break;
        }
    }
    return library;
}

void report(const QByteArray &line)
{
    // Unbuffered: the parent must see each line as soon as the operation has returned.
    const QByteArray out = line + '\n';
    [[maybe_unused]] ssize_t written = ::write(STDOUT_FILENO, out.constData(), size_t(out.size()));
}

int runChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString path = QString::fromLocal8Bit(argv[2]);
    const int round = QByteArray(argv[3]).toInt();
    CardStore store(StoreContainer::open(path));
    report("ready");
    for (int i = 0;; ++i) {
        switch (i % 4) {
        case 0:
        case 1: {
            QList<GoldenCard> cards;
            for (int c = 0; c < cardCount(i); ++c)
                cards.append(golden(QStringLiteral("phrase %1").arg(c), QStringLiteral("tag"), QStringLiteral("cn"), c));
            store.upsertSong(songKey(round, i), QStringLiteral("Title"), QStringLiteral("Artist"),
                             QStringLiteral("[00:01.00]line"), QStringLiteral("en"), cards);
            break;
        }
        case 2: store.recordPlay(songKey(round, i - 1), QStringLiteral("Title"), QStringLiteral("Artist")); break;
        case 3: store.context().remove(store.record(songKey(round, i - 2))); store.context().save(); break;
        }
        report("ok " + QByteArray::number(i));
    }
}

} // namespace

class TestStoreCrash : public QObject
{
    Q_OBJECT

private slots:
    void killedWriterLosesNoReportedWrite()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("crash.store"));
        StoreContainer::open(path);
        int totalOps = 0;
        for (int round = 0; round < 20; ++round) {
            // Let it write for a random while, then kill it wherever it is.
            const KilledChild::Outcome run = KilledChild::runUntilKilled(
                {QStringLiteral("--crash-child"), path, QString::number(round)}, 5, 150);
            QVERIFY2(run.problem.isEmpty(), qPrintable(run.problem));
            const QByteArray &out = run.output;

            int reported = -1;
            for (const QByteArray &line : out.split('\n')) {
                if (line.startsWith("ok "))
                    reported = line.mid(3).toInt();
            }
            totalOps += reported + 1;

            // The file opens and is sound.
            auto container = StoreContainer::open(path);
            SqliteDatabase db = container->connect();
            QCOMPARE(db.integrityCheck(), QStringLiteral("ok"));
            SqliteStatement fk = db.statement("PRAGMA foreign_key_check");
            QVERIFY(!fk.step());

            Library actual;
            SqliteStatement rows = db.statement(
                "SELECT key, play_count, (SELECT count(*) FROM cards WHERE song_id = songs.id) FROM songs "
                "WHERE key LIKE ?1");
            rows.bind(1, QStringLiteral("r%1-%").arg(round));
            while (rows.step())
                actual[rows.text(0)] = SongState{rows.int64(1), rows.int64(2)};
            // Every reported operation is there; the one in flight may or may not be.
            const bool matches = actual == expectedAfter(round, reported + 1)
                || actual == expectedAfter(round, reported + 2);
            QVERIFY2(matches, qPrintable(QStringLiteral("round %1: %2 reported, %3 songs found")
                                             .arg(round)
                                             .arg(reported + 1)
                                             .arg(actual.size())));
        }
        qInfo("%d reported writes over 20 kills", totalOps);
        QVERIFY(totalOps > 20);
    }
};

int main(int argc, char **argv)
{
    if (argc >= 4 && qstrcmp(argv[1], "--crash-child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestStoreCrash test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_storecrash.moc"
