#include "OtherThreadWarnings.h"

#include "diagnostics/MainThreadWatchdog.h"
#include "diagnostics/RenderLoopProbe.h"
#include "diagnostics/StallDetector.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <limits>

namespace {

qint64 nanos(double seconds)
{
    return qRound64(seconds * 1e9);
}

QStringList hangFiles(const QString &folder)
{
    return QDir(folder).entryList({"hang-*.log"}, QDir::Files, QDir::Name);
}

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

int callsOf(const RenderLoopProbe &probe, const QString &name)
{
    for (const auto &row : probe.snapshot(std::numeric_limits<qint64>::min()).frequencyRows) {
        if (row.name == name)
            return row.count;
    }
    return 0;
}

// Counts "MainThreadWatchdog started" lines and passes every message on.
std::atomic_int startedLines{0};
QtMessageHandler previousHandler = nullptr;
void countingHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message == QLatin1String("MainThreadWatchdog started"))
        ++startedLines;
    previousHandler(type, context, message);
}

} // namespace

class TestMainThreadWatchdog : public QObject
{
    Q_OBJECT

private slots:
    void stallDetector_data();
    void stallDetector();
    void stallsWriteOneReportEach();
    void stopsWhenTheApplicationQuits();
};

// Steps: "ticks a..b" (a tick every 0.5 s, the GUI thread silent), "pings a..b" (every 0.5 s a
// tick and then its acknowledgement). Reports are "tick time:lag".
void TestMainThreadWatchdog::stallDetector_data()
{
    QTest::addColumn<double>("start");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("reports");

    QTest::newRow("responsive") << 100.0 << QStringList{"pings 100.5..120"} << QStringList{};
    QTest::newRow("3 s block: one report")
        << 100.0 << QStringList{"ticks 100.5..103", "pings 103.5..110"} << QStringList{"102.0:2.00"};
    QTest::newRow("9 s block: two, 4 s apart")
        << 100.0 << QStringList{"ticks 100.5..109", "pings 109.5..115"} << QStringList{"102.0:2.00", "106.0:6.00"};
    QTest::newRow("first stall right after boot")
        << 0.5 << QStringList{"ticks 1.0..2.5"} << QStringList{"2.5:2.00"};
    QTest::newRow("second stall waits for the report interval")
        << 100.0 << QStringList{"ticks 100.5..103", "pings 103.5..103.5", "ticks 104.0..107"}
        << QStringList{"102.0:2.00", "106.0:2.50"};
}

void TestMainThreadWatchdog::stallDetector()
{
    QFETCH(double, start);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, reports);

    StallDetector detector(nanos(start));
    QStringList actual;
    for (const QString &step : steps) {
        const QString kind = step.section(' ', 0, 0);
        const QString range = step.section(' ', 1);
        const double from = range.section("..", 0, 0).toDouble();
        const double to = range.section("..", 1).toDouble();
        for (double t = from; t <= to + 1e-9; t += 0.5) {
            if (const auto lag = detector.tick(nanos(t)))
                actual << QString::asprintf("%.1f:%.2f", t, *lag);
            if (kind == QLatin1String("pings"))
                detector.acknowledge(nanos(t));
        }
    }
    QCOMPARE(actual, reports);
}

void TestMainThreadWatchdog::stallsWriteOneReportEach()
{
    QTemporaryDir data;
    QVERIFY(data.isValid());
    const QString folder = data.path() + "/Diagnostics";
    RenderLoopProbe probe(nullptr, nullptr, data.path());
    MainThreadWatchdog watchdog(&probe);
    OtherThreadWarnings otherThreads;

    previousHandler = qInstallMessageHandler(countingHandler);
    watchdog.start();
    watchdog.start();
    qInstallMessageHandler(previousHandler);
    QCOMPARE(startedLines.load(), 1);
    QVERIFY(watchdog.isRunning());

    // Responsive: acknowledgements arrive and nothing is reported.
    QTRY_VERIFY_WITH_TIMEOUT(callsOf(probe, "watchdog.mainAck") >= 3, 5000);
    QVERIFY(hangFiles(folder).isEmpty());

    probe.trace("test.beforeStall", "marker", 1);
    QThread::msleep(3000); // the GUI thread stops answering
    QTRY_COMPARE_WITH_TIMEOUT(hangFiles(folder).size(), 1, 5000);
    const QString first = readAll(folder + "/" + hangFiles(folder).first());
    // The report is written first, the latest copy right after it: wait for the copy.
    QTRY_COMPARE_WITH_TIMEOUT(readAll(folder + "/latest-hang.log"), first, 5000);
    const auto reason = QRegularExpression(R"(\nreason: main thread did not acknowledge watchdog ping for (\d+\.\d\d)s\n)")
                            .match(first);
    QVERIFY2(reason.hasMatch(), qPrintable(first.left(300)));
    QVERIFY(reason.captured(1).toDouble() >= 2.0 && reason.captured(1).toDouble() < 3.0);
    QVERIFY(first.contains("[main] test.beforeStall | marker\n"));
    QVERIFY(first.contains("[com.cantorella.main-thread-watchdog] watchdog.mainThreadStall | lag=" + reason.captured(1)
                           + "s\n"));

    // Recovered: the queued acknowledgements run and no further report follows.
    const int acksBefore = callsOf(probe, "watchdog.mainAck");
    QTRY_VERIFY_WITH_TIMEOUT(callsOf(probe, "watchdog.mainAck") >= acksBefore + 5, 5000);
    // Let the report interval since the first report pass with the GUI thread answering.
    QTest::qWait(2500);
    QCOMPARE(hangFiles(folder).size(), 1);

    probe.trace("test.secondStall", {}, 1);
    QThread::msleep(3000);
    QTRY_COMPARE_WITH_TIMEOUT(hangFiles(folder).size(), 2, 5000);
    const QString second = readAll(folder + "/" + hangFiles(folder).last());
    QVERIFY(second.contains("[main] test.secondStall\n"));
    QTRY_COMPARE_WITH_TIMEOUT(readAll(folder + "/latest-hang.log"), second, 5000);

    watchdog.stop();
    QVERIFY(!watchdog.isRunning());
    // Each report is said once, from the watchdog's thread, and nothing else is: the report path
    // makes no object there that belongs to the GUI thread (Qt would warn of that, on that thread).
    QStringList said, written;
    for (const auto &warning : otherThreads.take())
        said << warning.text;
    for (const QString &file : hangFiles(folder))
        written << "Wrote render-loop diagnostics: " + folder + "/" + file;
    QCOMPARE(said, written);
}

void TestMainThreadWatchdog::stopsWhenTheApplicationQuits()
{
    QTemporaryDir data;
    QVERIFY(data.isValid());
    RenderLoopProbe probe(nullptr, nullptr, data.path());
    MainThreadWatchdog watchdog(&probe);
    watchdog.start();
    QVERIFY(watchdog.isRunning());

    QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    QVERIFY(!watchdog.isRunning());
}

QTEST_GUILESS_MAIN(TestMainThreadWatchdog)
#include "tst_mainthreadwatchdog.moc"
