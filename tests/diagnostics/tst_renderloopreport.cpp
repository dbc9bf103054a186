#include "diagnostics/RenderLoopProbe.h"
#include "platform/Clock.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <time.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const QString closingNote = QStringLiteral(
    "Note: Linux does not expose another thread's call stack to this application in a way it can read safely, so "
    "the stack above is the reporting thread's own. The useful signal here is the event frequency table and the "
    "last events before the main thread stopped acknowledging pings.");

// A probe whose uptime and wall clock move together, starting at 2023-11-14 22:13:20 UTC.
struct FixedClocks
{
    ManualContinuousClock uptime;
    ManualWallClock wall;

    void advance(std::chrono::milliseconds d)
    {
        uptime.advance(d);
        wall.advance(d);
    }
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The report's lines up to "Watchdog thread stack:", with the lines that depend on the machine
// checked here and replaced by a marker. The stack and the closing note are checked too.
QStringList headAndChecks(const QString &report)
{
    [&] { QVERIFY2(!report.endsWith('\n'), "the report ends with a line feed"); }();
    QStringList lines = report.split('\n');
    const qsizetype stack = lines.indexOf(QStringLiteral("Watchdog thread stack:"));
    [&] {
        QVERIFY(stack > 0);
        QCOMPARE(lines.last(), closingNote);
        QCOMPARE(lines.at(lines.size() - 2), QString());
        QVERIFY2(lines.size() - stack > 3, "no stack lines");
    }();
    QStringList head = lines.mid(0, stack + 1);
    for (QString &line : head) {
        if (line.startsWith(QLatin1String("process: "))) {
            const QString prefix = QStringLiteral("process: pid=%1 name=").arg(getpid());
            [&] { QVERIFY2(line.startsWith(prefix) && line.size() > prefix.size(), qPrintable(line)); }();
            line = QStringLiteral("<process>");
        } else if (line.startsWith(QLatin1String("os: "))) {
            [&] { QVERIFY(line.size() > 4); }();
            line = QStringLiteral("<os>");
        } else if (line.startsWith(QLatin1String("lowPowerMode: "))) {
            [&] { QVERIFY(line == "lowPowerMode: true" || line == "lowPowerMode: false"); }();
            line = QStringLiteral("<lowPowerMode>");
        }
    }
    return head;
}

QStringList header(const QString &reason, const QString &createdAt, const QString &uptime)
{
    return {"Cantorella Render Loop Diagnostics",
            "reason: " + reason,
            "createdAt: " + createdAt,
            "windowSeconds: 10",
            "<process>",
            "uptime: " + uptime,
            "<os>",
            "thermalState: unknown",
            "<lowPowerMode>",
            ""};
}

QStringList hangFiles(const QString &folder)
{
    return QDir(folder).entryList({"hang-*.log"}, QDir::Files, QDir::Name);
}

} // namespace

class TestRenderLoopReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void emptyProbe();
    void fullLayout();
    void boundedRowsAndEvents();
    void writesBothFiles();
    void unwritableFolder();
    void latestCopyFailsButTimestampedFileStays();
};

void TestRenderLoopReport::initTestCase()
{
    // Report times are local; pin the zone so the expected texts are fixed.
    qputenv("TZ", "UTC");
    tzset();
}

void TestRenderLoopReport::emptyProbe()
{
    FixedClocks clocks;
    RenderLoopProbe probe(&clocks.uptime, &clocks.wall);
    const QStringList expected = header("r", "2023-11-14 22:13:20.000", "0.000s")
        + QStringList{"Top events in last 10 seconds:", "", "Active operations:", "(none)", "",
                      "Last known state:", "(none)", "", "Recent events:", "", "Watchdog thread stack:"};
    QCOMPARE(headAndChecks(probe.makeReport("r")), expected);
}

void TestRenderLoopReport::fullLayout()
{
    FixedClocks clocks;
    RenderLoopProbe probe(&clocks.uptime, &clocks.wall);
    probe.trace("stale");                                   // #1 at 0.0, outside the window at the end
    clocks.advance(3s);
    probe.beginOperation("LyricsLookup", "song=a|b");       // #2, operation 1
    clocks.advance(500ms);
    const quint64 quick = probe.beginOperation("Quick");    // #3, operation 2: exactly 10 s old at the end
    const quint64 done = probe.beginOperation("Done", "x"); // #4
    probe.endOperation(done);                               // #5
    clocks.advance(7500ms);
    for (int i = 0; i < 5; ++i)
        probe.trace("beta", "not stored", 0);               // #6–#10
    for (int i = 0; i < 5; ++i)
        probe.trace("alpha", {}, 0);                        // #11–#15
    for (int i = 0; i < 8; ++i)
        probe.trace("gamma", {}, 0);                        // #16–#23
    probe.trace("gamma", "x=1", 1);                         // #24
    probe.setState("track.songKey", "a|b");
    probe.setState("configuredUserId", "u1");
    probe.setState("configuredUserId", "u2");
    clocks.advance(2500ms);

    const QStringList expected =
        header("main thread did not acknowledge watchdog ping for 2.00s", "2023-11-14 22:13:33.500", "13.500s")
        + QStringList{
            "Top events in last 10 seconds:",
            "      9  gamma",
            "      5  alpha",
            "      5  beta",
            "      1  Done.begin",
            "      1  Done.end",
            "      1  Quick.begin",
            "      0  LyricsLookup.begin",
            "      0  stale",
            "",
            "Active operations:",
            "#1 age=10.500s started=2023-11-14 22:13:23.000 +3.000s [main] LyricsLookup | song=a|b",
            "#2 age=10.000s started=2023-11-14 22:13:23.500 +3.500s [main] Quick",
            "",
            "Last known state:",
            "configuredUserId: u2",
            "track.songKey: a|b",
            "",
            "Recent events:",
            "#1 2023-11-14 22:13:20.000 +0.000s [main] stale",
            "#2 2023-11-14 22:13:23.000 +3.000s [main] LyricsLookup.begin | song=a|b",
            "#3 2023-11-14 22:13:23.500 +3.500s [main] Quick.begin",
            "#4 2023-11-14 22:13:23.500 +3.500s [main] Done.begin | x",
            "#5 2023-11-14 22:13:23.500 +3.500s [main] Done.end | id=3 elapsed=0.000s",
            "#24 2023-11-14 22:13:31.000 +11.000s [main] gamma | x=1",
            "",
            "Watchdog thread stack:"};
    QCOMPARE(headAndChecks(probe.makeReport("main thread did not acknowledge watchdog ping for 2.00s")), expected);
    Q_UNUSED(quick);
}

void TestRenderLoopReport::boundedRowsAndEvents()
{
    FixedClocks clocks;
    RenderLoopProbe probe(&clocks.uptime, &clocks.wall);
    for (int i = 0; i < 45; ++i)
        probe.trace(QStringLiteral("name%1").arg(i, 2, 10, QLatin1Char('0')), {}, 0);
    for (int i = 0; i < 8000; ++i)
        probe.trace("fill");

    const QStringList lines = probe.makeReport("r").split('\n');
    const qsizetype top = lines.indexOf("Top events in last 10 seconds:");
    const qsizetype blank = lines.indexOf(QString(), top);
    QCOMPARE(blank - top - 1, 40);
    QCOMPARE(lines.at(top + 1), QStringLiteral("   8000  fill"));
    QCOMPARE(lines.at(top + 40), QStringLiteral("      1  name38"));

    const qsizetype recent = lines.indexOf("Recent events:");
    const qsizetype end = lines.indexOf(QString(), recent);
    QCOMPARE(end - recent - 1, 1200);
    QVERIFY(lines.at(recent + 1).startsWith("#6846 "));
    QVERIFY(lines.at(end - 1).startsWith("#8045 "));
}

void TestRenderLoopReport::writesBothFiles()
{
    QTemporaryDir data;
    QVERIFY(data.isValid());
    FixedClocks clocks;
    RenderLoopProbe probe(&clocks.uptime, &clocks.wall, data.path());
    probe.trace("LyricsView.body", "歌词 line", 1);
    const QString folder = data.path() + "/Diagnostics";

    QTest::ignoreMessage(QtWarningMsg, qPrintable("Wrote render-loop diagnostics: " + folder
                                                   + "/hang-20231114-221320.log"));
    const auto first = probe.writeReport("first");
    QCOMPARE(first, std::optional<QString>(folder + "/hang-20231114-221320.log"));
    const QByteArray firstText = readAll(*first);
    QVERIFY(firstText.startsWith("Cantorella Render Loop Diagnostics\nreason: first\n"));
    QVERIFY(firstText.contains("[main] LyricsView.body | 歌词 line\n"));
    QVERIFY(!firstText.endsWith('\n'));
    QCOMPARE(readAll(folder + "/latest-hang.log"), firstText);

    clocks.advance(4s);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Wrote render-loop diagnostics: "));
    const auto second = probe.writeReport("second");
    QCOMPARE(second, std::optional<QString>(folder + "/hang-20231114-221324.log"));
    QCOMPARE(hangFiles(folder), (QStringList{"hang-20231114-221320.log", "hang-20231114-221324.log"}));
    QCOMPARE(readAll(*first), firstText);
    const QByteArray latest = readAll(folder + "/latest-hang.log");
    QCOMPARE(latest, readAll(*second));
    QVERIFY(latest.contains("\nreason: second\n"));
    // Atomic writes leave no temporary files behind.
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3);
}

void TestRenderLoopReport::unwritableFolder()
{
    QTemporaryDir data;
    QVERIFY(data.isValid());
    // The data folder's place is taken by a plain file, so "Diagnostics" cannot be made.
    const QString blocked = data.path() + "/com.cantorella.Cantorella";
    QFile file(blocked);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    FixedClocks clocks;
    RenderLoopProbe probe(&clocks.uptime, &clocks.wall, blocked);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Failed to write render-loop diagnostics: .+"));
    QCOMPARE(probe.writeReport("r"), std::nullopt);
    QVERIFY(probe.diagnosticsDirectory().isEmpty());
}

void TestRenderLoopReport::latestCopyFailsButTimestampedFileStays()
{
    QTemporaryDir data;
    QVERIFY(data.isValid());
    const QString folder = data.path() + "/Diagnostics";
    QVERIFY(QDir().mkpath(folder + "/latest-hang.log")); // a folder where the copy should go

    FixedClocks clocks;
    RenderLoopProbe probe(&clocks.uptime, &clocks.wall, data.path());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Failed to write render-loop diagnostics: .*latest-hang"));
    QCOMPARE(probe.writeReport("r"), std::nullopt);
    QCOMPARE(hangFiles(folder), QStringList{"hang-20231114-221320.log"});
    QVERIFY(readAll(folder + "/hang-20231114-221320.log").contains("\nreason: r\n"));
}

QTEST_GUILESS_MAIN(TestRenderLoopReport)
#include "tst_renderloopreport.moc"
