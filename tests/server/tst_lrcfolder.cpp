#include "server/lyrics/LrcFolderIndex.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <mutex>

using server::LrcFolderIndex;

namespace {

using Files = QList<QPair<QString, QByteArray>>; // path in the folder, bytes

QByteArray tagged(const char *title, const char *artist, const char *line = "words")
{
    return QByteArray("[ti:") + title + "]\n[ar:" + artist + "]\n[00:01.00]" + line + "\n";
}
const QByteArray untagged = "[00:01.00]first\n[00:02.50]second\n";

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestLrcFolder : public QObject
{
    Q_OBJECT

    std::mutex m_logMutex;
    QStringList m_log;

    LrcFolderIndex::Log logger()
    {
        return [this](const QString &line) {
            std::lock_guard lock(m_logMutex);
            m_log << line;
        };
    }

private slots:
    void init() { m_log.clear(); }

    void matching_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("served"); // the file answering, or empty
        QTest::addColumn<QStringList>("logged"); // texts the log lines hold, in order

        QTest::newRow("tags") << Files{{"whatever.lrc", tagged("Night Song", "The Owls")}} << "night song"
                              << " THE OWLS " << "whatever.lrc" << QStringList();
        QTest::newRow("tags in capitals on one line")
            << Files{{"x.lrc", "[TI: Night Song ][AR:The Owls]\n[00:01.00]words\n"}} << "Night Song" << "The Owls"
            << "x.lrc" << QStringList();
        QTest::newRow("file name") << Files{{"The Owls - Night Song.lrc", untagged}} << "Night Song" << "The Owls"
                                   << "The Owls - Night Song.lrc" << QStringList();
        QTest::newRow("file name splits at the first dash")
            << Files{{"The Owls - Night - Day.LRC", untagged}} << "Night - Day" << "The Owls"
            << "The Owls - Night - Day.LRC" << QStringList();
        QTest::newRow("one tag only: the name decides")
            << Files{{"The Owls - Night Song.lrc", "[ti:Something Else]\n[00:01.00]x\n"}} << "Night Song"
            << "The Owls" << "The Owls - Night Song.lrc" << QStringList();
        QTest::newRow("nested folders") << Files{{"a/b/c/The Owls - Night Song.lrc", untagged}} << "Night Song"
                                        << "The Owls" << "a/b/c/The Owls - Night Song.lrc" << QStringList();
        QTest::newRow("broken file") << Files{{"The Owls - Night Song.lrc", "just words, no time stamps\n"}}
                                     << "Night Song" << "The Owls" << ""
                                     << QStringList{"skipped The Owls - Night Song.lrc"};
        QTest::newRow("not UTF-8") << Files{{"The Owls - Night Song.lrc", "[00:01.00]\xc4\xe3\xba\xc3\n"}}
                                   << "Night Song" << "The Owls" << "" << QStringList{"is not UTF-8"};
        QTest::newRow("names no song") << Files{{"night song.lrc", untagged}} << "night song" << "" << ""
                                       << QStringList{"skipped night song.lrc"};
        QTest::newRow("not .lrc") << Files{{"The Owls - Night Song.txt", untagged}} << "Night Song" << "The Owls"
                                  << "" << QStringList();
        QTest::newRow("tags win over a file name")
            << Files{{"The Owls - Night Song.lrc", untagged}, {"z/tagged.lrc", tagged("Night Song", "The Owls")}}
            << "Night Song" << "The Owls" << "z/tagged.lrc"
            << QStringList{"ignored The Owls - Night Song.lrc: z/tagged.lrc"};
        QTest::newRow("first path wins between two tagged")
            << Files{{"b.lrc", tagged("Night Song", "The Owls", "b")}, {"a/z.lrc", tagged("Night Song", "The Owls", "a")}}
            << "Night Song" << "The Owls" << "a/z.lrc" << QStringList{"ignored b.lrc: a/z.lrc"};
        QTest::newRow("dots in names") << Files{{"..hidden../..Owls.. - Night...lrc", untagged}} << "Night.."
                                       << "..Owls.." << "..hidden../..Owls.. - Night...lrc" << QStringList();
        QTest::newRow("a path in the request is only a name")
            << Files{{"The Owls - Night Song.lrc", untagged}} << "../The Owls - Night Song.lrc" << ".." << ""
            << QStringList();
        QTest::newRow("quotes") << Files{{"Ann's \"Band\" - Say \"Hi\".lrc", untagged}} << "Say \"Hi\""
                                << "ann's \"band\"" << "Ann's \"Band\" - Say \"Hi\".lrc" << QStringList();
        QTest::newRow("non-ASCII letters") << Files{{"歌手/周杰 - 晴天.lrc", untagged}, {"Édith - Rose.lrc", untagged}}
                                           << "Rose" << "ÉDITH" << "Édith - Rose.lrc" << QStringList();
    }

    void matching()
    {
        QFETCH(Files, files);
        QFETCH(QString, title);
        QFETCH(QString, artist);
        QFETCH(QString, served);
        QFETCH(QStringList, logged);
        QTemporaryDir dir;
        for (const auto &[path, bytes] : files)
            write(dir.filePath(path), bytes);

        LrcFolderIndex index(dir.path(), logger());
        index.rescan();
        const QString key = artist.trimmed().toLower() + '|' + title.trimmed().toLower();
        const auto match = index.find(key);
        QCOMPARE(match ? QDir(dir.path()).relativeFilePath(match->path) : QString(), served);
        if (match) {
            QFile file(match->path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(match->lyrics, QString::fromUtf8(file.readAll()));
        }
        QCOMPARE(m_log.size(), logged.size());
        for (qsizetype i = 0; i < logged.size(); ++i)
            QVERIFY2(m_log[i].contains(logged[i]), qPrintable(m_log[i]));

        // A second scan reads nothing again and logs nothing again.
        const LrcFolderIndex::ScanReport again = index.rescan();
        QCOMPARE(again.read, 0);
        QCOMPARE(m_log.size(), logged.size());
    }

    void fileAddedChangedAndRemovedWhileRunning()
    {
        QTemporaryDir dir;
        LrcFolderIndex index(dir.path(), logger());
        index.watch(std::chrono::milliseconds(50));
        const QString key = QStringLiteral("the owls|night song");
        QVERIFY(!index.find(key));

        write(dir.filePath("new/The Owls - Night Song.lrc"), untagged);
        QTRY_VERIFY(index.find(key));

        // Rewritten to another song: the old key stops answering at once, even before a scan.
        write(dir.filePath("new/The Owls - Night Song.lrc"), tagged("Day Song", "The Owls"));
        QVERIFY(!index.find(key));
        QTRY_VERIFY(index.find(QStringLiteral("the owls|day song")));

        QVERIFY(QFile::remove(dir.filePath("new/The Owls - Night Song.lrc")));
        QTRY_VERIFY(!index.find(QStringLiteral("the owls|day song")));
    }

    // Enough files that the first scan reads them on several threads.
    void manyFiles()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 1200; ++i)
            write(dir.filePath(QStringLiteral("f%1/Artist %2 - Song %2.lrc").arg(i % 30).arg(i)), i == 1114 ? "no stamps" : untagged);
        LrcFolderIndex index(dir.path(), logger());
        const LrcFolderIndex::ScanReport report = index.rescan();
        QCOMPARE(report.indexed, 1199);
        QCOMPARE(report.skipped, 1);
        QCOMPARE(m_log, QStringList{"lyrics folder: skipped f4/Artist 1114 - Song 1114.lrc: it has no timed lyric line"});
        QVERIFY(index.find(QStringLiteral("artist 1199|song 1199")));
    }

    void missingFolderIsEmpty()
    {
        LrcFolderIndex index(QStringLiteral("/nonexistent/lyrics"), logger());
        QCOMPARE(index.rescan().indexed, 0);
    }
};

QTEST_GUILESS_MAIN(TestLrcFolder)
#include "tst_lrcfolder.moc"
