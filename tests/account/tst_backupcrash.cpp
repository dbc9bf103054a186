// A restore killed at any moment (SIGKILL to a child process in the middle of restoring a
// large library, ten times) leaves a sound store holding either the whole old library or
// the whole new one. The child is this executable, started again with
// "--restore-child <store> <document A> <document B>": it restores B, A, B, … for ever.

#include "BackupTestUtil.h"
#include "KilledChild.h"

#include "account/BackupService.h"

#include <QCoreApplication>
#include <QFile>
#include <QtTest>

#include <unistd.h>

namespace {

// Every stored value except row ids (a restore numbers rows afresh), in a stable order.
QByteArray contentHash(const QString &path)
{
    SqliteDatabase db = SqliteDatabase::open(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const char *sql :
         {"SELECT key, title, artist, lyrics, language, story_article, lyrics_offset, last_played_at, is_favorite, "
          "favorited_at, play_count FROM songs ORDER BY key",
          "SELECT c.song_key, s.key, c.en, c.cn, c.note, c.example, c.tag, c.line_timestamp, c.learned, "
          "c.is_mastered, c.mastered_at, c.is_favorite, c.favorited_at, c.pronunciation_hint_json, c.cultural_hint, "
          "c.listening_difficulty_raw FROM cards c JOIN songs s ON s.id = c.song_id ORDER BY s.key, c.id"}) {
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(db.handle(), sql, -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(st, c));
                hash.addData(text ? QByteArrayView(text) : QByteArrayView("\x01NULL"));
                hash.addData(QByteArrayView("\x1f"));
            }
        }
        sqlite3_finalize(st);
    }
    return hash.result().toHex();
}

void report(const QByteArray &line)
{
    const QByteArray out = line + '\n';
    [[maybe_unused]] ssize_t written = ::write(STDOUT_FILENO, out.constData(), size_t(out.size()));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int runChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    CardStore store(StoreContainer::open(QString::fromLocal8Bit(argv[2])));
    BackupService service(&store, QStringLiteral("en"));
    const QByteArray documents[] = {readFile(QString::fromLocal8Bit(argv[4])), readFile(QString::fromLocal8Bit(argv[3]))};
    report("ready");
    for (int i = 0;; ++i) {
        await(service.importBackup(documents[i % 2]));
        report(i % 2 ? "restored A" : "restored B");
    }
}

} // namespace

class TestBackupCrash : public QObject
{
    Q_OBJECT

private slots:
    void killedRestoreLeavesOneWholeLibrary()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("crash.store"));
        const QString pathA = dir.filePath(QStringLiteral("a.json"));
        const QString pathB = dir.filePath(QStringLiteral("b.json"));
        const QByteArray documentA = generatedDocument(2000, 10, 1024);
        const QByteArray documentB = generatedDocument(2500, 8, 900);
        for (const auto &[file, bytes] : {std::pair{pathA, documentA}, std::pair{pathB, documentB}}) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
        }
        QByteArray hashA;
        QByteArray hashB;
        {
            CardStore store(StoreContainer::open(path));
            BackupService service(&store, QStringLiteral("en"));
            await(service.importBackup(documentB));
            hashB = contentHash(path);
            await(service.importBackup(documentA));
            hashA = contentHash(path);
        }
        QVERIFY(hashA != hashB);

        int endedWithA = 0;
        int restoresReported = 0;
        for (int round = 0; round < 10; ++round) {
            const KilledChild::Outcome run = KilledChild::runUntilKilled(
                {QStringLiteral("--restore-child"), path, pathA, pathB}, 20, 900);
            QVERIFY2(run.problem.isEmpty(), qPrintable(run.problem));
            restoresReported += int(run.output.count("restored"));

            SqliteDatabase db = StoreContainer::open(path)->connect();
            QCOMPARE(db.integrityCheck(), QStringLiteral("ok"));
            QVERIFY(!db.statement("PRAGMA foreign_key_check").step());
            const QByteArray hash = contentHash(path);
            QVERIFY2(hash == hashA || hash == hashB, qPrintable(QStringLiteral("round %1: a mixed library").arg(round)));
            endedWithA += hash == hashA;
        }
        qInfo("10 kills: %d restores completed, %d rounds ended with library A", restoresReported, endedWithA);
    }
};

int main(int argc, char **argv)
{
    if (argc >= 5 && qstrcmp(argv[1], "--restore-child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestBackupCrash test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_backupcrash.moc"
