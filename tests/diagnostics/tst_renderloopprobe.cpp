#include "diagnostics/RenderLoopProbe.h"
#include "platform/Clock.h"

#include <QThread>
#include <QtTest>

#include <limits>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr qint64 allTimes = std::numeric_limits<qint64>::min();

QList<quint64> storedSequences(const RenderLoopProbe &probe)
{
    QList<quint64> sequences;
    for (const auto &event : probe.snapshot(allTimes).events)
        sequences << event.sequence;
    return sequences;
}

int countOf(const RenderLoopProbe::Snapshot &snap, const QString &name)
{
    for (const auto &row : snap.frequencyRows) {
        if (row.name == name)
            return row.count;
    }
    return -1;
}

} // namespace

class TestRenderLoopProbe : public QObject
{
    Q_OBJECT

private slots:
    void sampling_data();
    void sampling();
    void pruningWindow_data();
    void pruningWindow();
    void operations_data();
    void operations();
    void ringKeepsTheLast8000();
    void threadLabels();
    void concurrentTracesAreAllCounted();
};

// `calls` traces are made, rotating through the pattern's "name/every" entries.
void TestRenderLoopProbe::sampling_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("calls");
    QTest::addColumn<QList<quint64>>("stored");
    QTest::addColumn<int>("countOfA");

    QTest::newRow("every 1 stores each call") << "a/1" << 3 << QList<quint64>{1, 2, 3} << 3;
    QTest::newRow("every 0 only counts") << "a/0" << 3 << QList<quint64>{} << 3;
    QTest::newRow("first call with every 20 is only counted") << "a/20" << 1 << QList<quint64>{} << 1;
    QTest::newRow("every 20 stores multiples of 20") << "a/20" << 41 << QList<quint64>{20, 40} << 41;
    // The sequence is probe-wide: other names decide where a name's calls land.
    QTest::newRow("interleaved on odd numbers: never") << "a/20 b/0" << 40 << QList<quint64>{} << 20;
    QTest::newRow("interleaved on even numbers") << "b/0 a/20" << 40 << QList<quint64>{20, 40} << 20;
}

void TestRenderLoopProbe::sampling()
{
    QFETCH(QString, pattern);
    QFETCH(int, calls);
    QFETCH(QList<quint64>, stored);
    QFETCH(int, countOfA);

    ManualContinuousClock clock;
    ManualWallClock wall;
    RenderLoopProbe probe(&clock, &wall);
    const QStringList entries = pattern.split(' ');
    for (int i = 0; i < calls; ++i) {
        const QString &entry = entries.at(i % entries.size());
        probe.trace(entry.section('/', 0, 0), QStringLiteral("d"), entry.section('/', 1).toULongLong());
    }
    QCOMPARE(storedSequences(probe), stored);
    QCOMPARE(countOf(probe.snapshot(allTimes), QStringLiteral("a")), countOfA);
}

void TestRenderLoopProbe::pruningWindow_data()
{
    QTest::addColumn<qint64>("gapNanoseconds");
    QTest::addColumn<int>("kept");

    QTest::newRow("9.999 s: kept") << qint64(9'999'000'000) << 2;
    QTest::newRow("exactly 10 s: kept") << qint64(10'000'000'000) << 2;
    QTest::newRow("10.001 s: dropped") << qint64(10'001'000'000) << 1;
    QTest::newRow("one nanosecond over: dropped") << qint64(10'000'000'001) << 1;
}

void TestRenderLoopProbe::pruningWindow()
{
    QFETCH(qint64, gapNanoseconds);
    QFETCH(int, kept);

    ManualContinuousClock clock(ContinuousInstant{123'456'789});
    ManualWallClock wall;
    RenderLoopProbe probe(&clock, &wall);
    probe.trace(QStringLiteral("n"), {}, 0);
    // Another name's calls never prune this one.
    clock.advance(std::chrono::nanoseconds(gapNanoseconds));
    probe.trace(QStringLiteral("other"), {}, 0);
    QCOMPARE(countOf(probe.snapshot(allTimes), QStringLiteral("n")), 1);

    probe.trace(QStringLiteral("n"), {}, 0);
    QCOMPARE(countOf(probe.snapshot(allTimes), QStringLiteral("n")), kept);
}

void TestRenderLoopProbe::operations_data()
{
    QTest::addColumn<QString>("endDetail");
    QTest::addColumn<bool>("begun");
    QTest::addColumn<QString>("eventName");
    QTest::addColumn<QString>("eventDetail");

    QTest::newRow("with detail") << "scroll" << true << "NowView.scroll.end" << "id=1 elapsed=0.250s scroll";
    QTest::newRow("without detail") << "" << true << "NowView.scroll.end" << "id=1 elapsed=0.250s";
    QTest::newRow("never begun, with detail")
        << "late" << false << "diagnostics.operationEndMissingBegin" << "id=1 late";
    QTest::newRow("never begun, blank kept") << "" << false << "diagnostics.operationEndMissingBegin" << "id=1 ";
}

void TestRenderLoopProbe::operations()
{
    QFETCH(QString, endDetail);
    QFETCH(bool, begun);
    QFETCH(QString, eventName);
    QFETCH(QString, eventDetail);

    ManualContinuousClock clock;
    ManualWallClock wall;
    RenderLoopProbe probe(&clock, &wall);
    quint64 id = 1;
    if (begun) {
        clock.advance(3s);
        id = probe.beginOperation(QStringLiteral("NowView.scroll"), QStringLiteral("target=4"));
        QCOMPARE(id, quint64(1));
        const auto open = probe.snapshot(allTimes).operations;
        QCOMPARE(open.size(), 1);
        QCOMPARE(open[0].name, QStringLiteral("NowView.scroll"));
        QCOMPARE(open[0].detail, QStringLiteral("target=4"));
        QCOMPARE(open[0].uptime, 3.0);
        QCOMPARE(open[0].thread, QStringLiteral("main"));
    }
    clock.advance(250ms);
    probe.endOperation(id, endDetail);

    const auto snap = probe.snapshot(allTimes);
    QVERIFY(snap.operations.isEmpty());
    QCOMPARE(snap.events.size(), begun ? 2 : 1);
    if (begun) {
        QCOMPARE(snap.events.first().name, QStringLiteral("NowView.scroll.begin"));
        QCOMPARE(snap.events.first().detail, QStringLiteral("target=4"));
    }
    QCOMPARE(snap.events.last().name, eventName);
    QCOMPARE(snap.events.last().detail, eventDetail);

    // Ending the same id again finds nothing open.
    probe.endOperation(id, QStringLiteral("again"));
    const auto after = probe.snapshot(allTimes).events;
    QCOMPARE(after.last().name, QStringLiteral("diagnostics.operationEndMissingBegin"));
    QCOMPARE(after.last().detail, QStringLiteral("id=1 again"));
}

void TestRenderLoopProbe::ringKeepsTheLast8000()
{
    ManualContinuousClock clock;
    ManualWallClock wall;
    RenderLoopProbe probe(&clock, &wall);
    for (int i = 0; i < 8000; ++i)
        probe.trace(QStringLiteral("e"));
    QCOMPARE(probe.snapshot(allTimes).events.size(), 8000);

    probe.trace(QStringLiteral("e"));
    auto events = probe.snapshot(allTimes).events;
    QCOMPARE(events.size(), 8000);
    QCOMPARE(events.first().sequence, quint64(2));
    QCOMPARE(events.last().sequence, quint64(8001));

    // Wrapping round the ring more than once keeps the order oldest first.
    for (int i = 0; i < 12345; ++i)
        probe.trace(QStringLiteral("e"), {}, i % 3 == 0 ? 1 : 0);
    events = probe.snapshot(allTimes).events;
    QCOMPARE(events.size(), 8000);
    for (qsizetype i = 1; i < events.size(); ++i)
        QVERIFY(events[i - 1].sequence < events[i].sequence);
    QCOMPARE(events.last().sequence, quint64(8001 + 12343));
}

void TestRenderLoopProbe::threadLabels()
{
    ManualContinuousClock clock;
    ManualWallClock wall;
    RenderLoopProbe probe(&clock, &wall);
    probe.trace(QStringLiteral("fromMain"));

    const auto traceOn = [](QThread *thread, const QString &objectName) {
        thread->setObjectName(objectName);
        thread->start();
        thread->wait();
        delete thread;
    };
    traceOn(QThread::create([&probe] { probe.trace(QStringLiteral("fromNamed")); }), "com.cantorella.test-worker");
    traceOn(QThread::create([&probe] { probe.trace(QStringLiteral("fromUnnamed")); }), QString());
    std::thread([&probe] { probe.trace(QStringLiteral("fromPlain")); }).join();

    QStringList labels;
    for (const auto &event : probe.snapshot(allTimes).events)
        labels << event.name + '=' + event.thread;
    QCOMPARE(labels, (QStringList{"fromMain=main", "fromNamed=com.cantorella.test-worker",
                                  "fromUnnamed=background", "fromPlain=background"}));
}

void TestRenderLoopProbe::concurrentTracesAreAllCounted()
{
    // Real clocks: the window must not prune anything during the run.
    RenderLoopProbe probe;
    constexpr int threads = 4;
    constexpr int perThread = 20000;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&probe, t] {
            const QString own = QStringLiteral("worker%1").arg(t);
            for (int i = 0; i < perThread; ++i) {
                probe.trace(own, {}, 7);
                probe.trace(QStringLiteral("shared"), {}, 0);
            }
        });
    }
    for (auto &worker : workers)
        worker.join();

    const auto snap = probe.snapshot(allTimes);
    QCOMPARE(countOf(snap, QStringLiteral("shared")), threads * perThread);
    for (int t = 0; t < threads; ++t)
        QCOMPARE(countOf(snap, QStringLiteral("worker%1").arg(t)), perThread);
    QCOMPARE(snap.events.size(), 8000);
    for (qsizetype i = 1; i < snap.events.size(); ++i) {
        QVERIFY(snap.events[i - 1].sequence < snap.events[i].sequence);
        QCOMPARE(snap.events[i].sequence % 7, quint64(0));
    }
}

QTEST_GUILESS_MAIN(TestRenderLoopProbe)
#include "tst_renderloopprobe.moc"
