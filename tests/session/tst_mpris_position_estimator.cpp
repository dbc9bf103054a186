// PositionEstimator on made-up reads of a player playing along a known line (position 100 s at
// the start instant, rate 1): where it puts the line for players that hold or scatter their
// position, which outliers it leaves out, and what begins a new line.
#include "session/nowplaying/PositionEstimator.h"

#include <QTest>

namespace {

const ContinuousInstant start{5'000'000'000};

ContinuousInstant atMs(double ms)
{
    return start + std::chrono::nanoseconds(qint64(ms * 1e6));
}

double truth(double ms)
{
    return 100.0 + ms / 1000.0;
}

PositionRead playing()
{
    PositionRead read;
    read.player = QStringLiteral("org.mpris.MediaPlayer2.test");
    read.title = QStringLiteral("Song");
    read.artist = QStringLiteral("Artist");
    read.album = QStringLiteral("Album");
    read.duration = 300;
    read.rate = 1;
    return read;
}

// A read at `ms` whose position is `errorMs` off the true one.
PositionRead readAt(double ms, double errorMs)
{
    PositionRead read = playing();
    read.at = atMs(ms);
    read.position = truth(ms) + errorMs / 1000.0;
    return read;
}

// A watched read of a player that holds its position: asked at `ms` (lagging by `lagMs`), it held
// `held` more answers; the last of them was asked at `lastHeldMs`, and the next value, the true
// position at `stepMs`, arrived at `movedMs`.
PositionRead watchedStep(double ms, double lagMs, int held, double lastHeldMs, double stepMs, double movedMs)
{
    PositionRead read = readAt(ms, -lagMs);
    read.watch = PositionRead::Watch{held, atMs(lastHeldMs), truth(stepMs), atMs(movedMs)};
    return read;
}

// A watched read that held its position (lagging by `lagMs`) through `held` more answers.
PositionRead heldThroughout(double ms, double lagMs, int held, double lastHeldMs)
{
    PositionRead read = readAt(ms, -lagMs);
    read.watch = PositionRead::Watch{held, atMs(lastHeldMs), std::nullopt, {}};
    return read;
}

} // namespace

Q_DECLARE_METATYPE(PositionRead)

class TestPositionEstimator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void estimate_data()
    {
        QTest::addColumn<QList<PositionRead>>("reads");
        QTest::addColumn<double>("errorMs"); // of the estimate against the true line
        QTest::addColumn<double>("toleranceMs");
        QTest::addColumn<bool>("holds");

        QTest::newRow("one read is taken as it is") << QList<PositionRead>{readAt(0, -37)} << -37.0 << 0.01 << false;
        QTest::newRow("scattered reads: middle of the range without its two ends")
            << QList<PositionRead>{readAt(0, -20), readAt(2000, 25), readAt(4000, -5), readAt(6000, 10),
                                   readAt(8000, 300)}
            << 10.0 << 0.01 << false;
        QTest::newRow("three scattered reads: the middle one")
            << QList<PositionRead>{readAt(0, -30), readAt(2000, 40), readAt(4000, 12)} << 12.0 << 0.01 << false;
        QTest::newRow("two scattered reads: their middle")
            << QList<PositionRead>{readAt(0, -20), readAt(2000, 10)} << -5.0 << 0.01 << false;
        // Stepped, 260 ms steps: only the watched step bounds the line from above.
        QTest::newRow("holding, no step seen yet: the highest floor")
            << QList<PositionRead>{readAt(0, -100), heldThroughout(2000, 40, 30, 2090), readAt(4000, -200)} << -40.0
            << 0.01 << true;
        QTest::newRow("held its position once: holding")
            << QList<PositionRead>{readAt(0, -100), heldThroughout(2000, 40, 1, 2050), readAt(4000, -200)} << -40.0
            << 0.01 << true;
        QTest::newRow("holding, step watched: middle of its bracket")
            << QList<PositionRead>{readAt(0, -120), watchedStep(2000, 100, 50, 2158, 2160, 2161)} << 0.5 << 0.01
            << true;
        QTest::newRow("holding: later lagging reads change nothing")
            << QList<PositionRead>{watchedStep(0, 100, 50, 158, 160, 161), readAt(2000, -30), readAt(4000, -250)}
            << 0.5 << 0.01 << true;
        QTest::newRow("holding: one read ahead of the step is left out")
            << QList<PositionRead>{watchedStep(0, 100, 50, 158, 160, 161), readAt(2000, -30), readAt(4000, 40)}
            << 0.5 << 0.01 << true;
        QTest::newRow("holding: one step bracket below every floor is left out")
            << QList<PositionRead>{watchedStep(0, 100, 50, 158, 160, 161), readAt(2000, -2),
                                   // A bracket that puts the line 60 ms low (an answer computed late).
                                   watchedStep(4000, 10, 5, 4100, 4040, 4102),
                                   watchedStep(6000, 20, 30, 6099, 6100, 6101)}
            << 0.0 << 0.01 << true;
        QTest::newRow("holding: a step watched over a minute ago no longer counts")
            << QList<PositionRead>{watchedStep(0, 100, 50, 158, 160, 161), readAt(61000, -30), readAt(63000, -80)}
            << -30.0 << 0.01 << true;
        QTest::newRow("an immediate move counts as a read, not as a hold")
            << QList<PositionRead>{readAt(0, 10), watchedStep(2000, -20, 0, 2000, 2003, 2003)} << 10.0 << 0.01 << false;
        PositionRead paused = readAt(0, 0);
        paused.rate = 0;
        PositionRead pausedLater = paused;
        pausedLater.at = atMs(3000);
        pausedLater.position = 100.25;
        QTest::newRow("paused: the latest read") << QList<PositionRead>{paused, pausedLater} << 250.0 << 0.01 << false;
    }
    void estimate()
    {
        QFETCH(QList<PositionRead>, reads);
        QFETCH(double, errorMs);
        QFETCH(double, toleranceMs);
        QFETCH(bool, holds);
        PositionEstimator estimator;
        QVERIFY(!estimator.positionAt(start));
        for (const PositionRead &read : reads)
            estimator.add(read, false);
        QCOMPARE(estimator.holdsPosition(), holds);
        const double at = reads.constLast().rate > 0 ? 9000 : 0;
        const double error = (*estimator.positionAt(atMs(at)) - truth(at)) * 1000.0;
        QVERIFY2(std::abs(error - errorMs) <= toleranceMs, qPrintable(QString::number(error, 'f', 3)));
    }

    void beginsNewLine_data()
    {
        QTest::addColumn<PositionRead>("next");
        QTest::addColumn<bool>("seeked");
        QTest::addColumn<bool>("newLine");

        QTest::newRow("same track, on the line") << readAt(2000, -150) << false << false;
        QTest::newRow("0.9 s behind") << readAt(2000, -900) << false << false;
        QTest::newRow("1.1 s behind") << readAt(2000, -1100) << false << true;
        QTest::newRow("1.1 s ahead") << readAt(2000, 1100) << false << true;
        QTest::newRow("a seek was announced") << readAt(2000, 0) << true << true;
        PositionRead other = readAt(2000, 0);
        other.title = QStringLiteral("Next Song");
        QTest::newRow("another title") << other << false << true;
        other = readAt(2000, 0);
        other.player = QStringLiteral("org.mpris.MediaPlayer2.other");
        QTest::newRow("another player") << other << false << true;
        other = readAt(2000, 0);
        other.rate = 0;
        QTest::newRow("paused") << other << false << true;
        other = readAt(2000, 0);
        other.rate = 1.5;
        QTest::newRow("another rate") << other << false << true;
        other = readAt(2000, 0);
        other.duration = 301;
        QTest::newRow("another length") << other << false << true;
    }
    void beginsNewLine()
    {
        QFETCH(PositionRead, next);
        QFETCH(bool, seeked);
        QFETCH(bool, newLine);
        PositionEstimator estimator;
        QVERIFY(estimator.add(watchedStep(0, 100, 50, 158, 160, 161), false));
        QCOMPARE(estimator.add(next, seeked), newLine);
        // A new line starts from the read alone, whatever came before.
        if (newLine)
            QCOMPARE(*estimator.positionAt(next.at), next.position);

        // A read taken only to refine never begins a line: it is refused and changes nothing.
        PositionEstimator refined;
        refined.add(watchedStep(0, 100, 50, 158, 160, 161), false);
        const double before = *refined.positionAt(atMs(2000));
        QCOMPARE(refined.refine(next), !newLine || seeked);
        if (newLine && !seeked)
            QCOMPARE(*refined.positionAt(atMs(2000)), before);
    }
};

QTEST_GUILESS_MAIN(TestPositionEstimator)
#include "tst_mpris_position_estimator.moc"
