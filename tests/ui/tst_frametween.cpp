// Changes paced by the shared frame clock. Transitions: a tween steps only on the clock's ticks, along its
// curve, holds the clock only while it runs (so a finished or stopped tween leaves no timer),
// lands at once with no duration, and without a clock runs on Qt's own animation timer. A view's
// periodic change made while the clock runs waits for its next tick.

#include "ui/design/FrameClock.h"
#include "ui/design/FrameTween.h"
#include "ui/design/Motion.h"

#include "platform/Clock.h"

#include <QSignalSpy>
#include <QTest>

namespace {
// The software profile's intervals (the clock's default profile).
constexpr auto transitionTick = FrameClock::interval(RenderProfile::Software, FrameClock::Pace::Transition);
constexpr auto ambientTick = FrameClock::interval(RenderProfile::Software, FrameClock::Pace::Ambient);
// A tween on a frame clock driven by hand.
struct ClockedTween
{
    ManualContinuousClock clock;
    FrameClock frameClock{&clock};
    FrameTween tween;
    ClockedTween() { tween.setFrameClock(&frameClock); }
};

} // namespace

using namespace std::chrono_literals;

class FrameTweenTest : public QObject
{
    Q_OBJECT

private slots:
    void stepsOnTicksAlongItsCurve_data();
    void stepsOnTicksAlongItsCurve();
    void atTheAmbientPaceItStepsLess();
    void atTheAmbientPaceItLandsOnTheNearestTick_data();
    void aTransitionStartedByATickCountsFromIt();
    void atTheAmbientPaceItLandsOnTheNearestTick();
    void itsPaceSetsItsSteps_data();
    void itsPaceSetsItsSteps();
    void holdsTheClockOnlyWhileRunning();
    void aRestartAnnouncesItsStartAgain();
    void withoutAClockQtPacesIt();
    void periodicChangesWaitForTheNextTick();

private:
    // Moves the clock one tick at a time, letting each woken sleeper run.
    static void advanceTicks(ManualContinuousClock &clock, int ticks,
                             std::chrono::nanoseconds interval = transitionTick)
    {
        for (int i = 0; i < ticks; ++i) {
            clock.advance(interval);
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
        }
    }
};

void FrameTweenTest::stepsOnTicksAlongItsCurve_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("linear");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<double>("progress");
    QTest::addColumn<bool>("running");

    const QEasingCurve inOut = MotionCurve(MotionCurve::Shape::easeInOut, 1).easing();
    // 30 ticks a second: tick n is at n × 1/30 s (a hair later: intervals are rounded up).
    QTest::newRow("ease-in-out, before the first tick") << 0.25 << false << 0 << 0.0 << true;
    QTest::newRow("ease-in-out, second tick") << 0.25 << false << 2 << inOut.valueForProgress(2.0 / 30 / 0.25) << true;
    QTest::newRow("ease-in-out, seventh tick still on its way") << 0.25 << false << 7 << inOut.valueForProgress(7.0 / 30 / 0.25) << true;
    QTest::newRow("ease-in-out, eighth tick lands") << 0.25 << false << 8 << 1.0 << false;
    QTest::newRow("0.4 s scroll: twelve steps, the last lands") << 0.4 << false << 12 << 1.0 << false;
    QTest::newRow("linear 2 s, a second in") << 2.0 << true << 30 << 0.5 << true;
    QTest::newRow("linear 2 s, done") << 2.0 << true << 60 << 1.0 << false;
    QTest::newRow("no duration lands at once") << 0.0 << false << 0 << 1.0 << false;
}

void FrameTweenTest::stepsOnTicksAlongItsCurve()
{
    QFETCH(double, seconds);
    QFETCH(bool, linear);
    QFETCH(int, ticks);
    QFETCH(double, progress);
    QFETCH(bool, running);

    ClockedTween rig;
    auto &[clock, frameClock, tween] = rig;
    tween.start(seconds, linear);
    advanceTicks(clock, ticks);
    // Half a tick later nothing moves: steps come only with ticks.
    clock.advance(transitionTick / 2);
    QCoreApplication::processEvents();
    QVERIFY2(qAbs(tween.progress() - progress) < 1e-6, qPrintable(QString::number(tween.progress())));
    QCOMPARE(tween.isRunning(), running);
    QCOMPARE(frameClock.isRunning(), running);
}

void FrameTweenTest::atTheAmbientPaceItStepsLess()
{
    ClockedTween rig;
    auto &[clock, frameClock, tween] = rig;
    tween.setAmbientPace(true);
    QSignalSpy steps(&tween, &FrameTween::progressChanged);
    tween.start(0.25);
    // A transition-paced tick would have come by now; an ambient one has not.
    advanceTicks(clock, 1, transitionTick);
    QCOMPARE(tween.progress(), 0.0);
    // 100 ms in: the first step.
    advanceTicks(clock, 1, ambientTick - transitionTick);
    QVERIFY(tween.progress() > 0.0);
    QCOMPARE(steps.count(), 2); // its start and one step
    // Back to the transition pace while running: the next step comes one short interval on.
    tween.setAmbientPace(false);
    advanceTicks(clock, 1, transitionTick);
    QCOMPARE(steps.count(), 3);
    // 167, 200 and 233 ms, then 267 ms: the quarter second lands.
    advanceTicks(clock, 3, transitionTick);
    QCOMPARE(steps.count(), 6);
    QVERIFY(tween.progress() < 1.0);
    advanceTicks(clock, 1, transitionTick);
    QCOMPARE(tween.progress(), 1.0);
    QVERIFY(!tween.isRunning());
}

void FrameTweenTest::atTheAmbientPaceItLandsOnTheNearestTick_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<int>("ticks"); // ambient ticks until it lands
    QTest::newRow("0.25 s: on the second, not a third tick late") << 0.25 << 2;
    QTest::newRow("0.22 s: the second tick is nearest") << 0.22 << 2;
    QTest::newRow("0.26 s: the third tick is nearest") << 0.26 << 3;
    QTest::newRow("0.3 s: its end is a tick") << 0.3 << 3;
    QTest::newRow("2 s linear swell") << 2.0 << 20;
}

void FrameTweenTest::atTheAmbientPaceItLandsOnTheNearestTick()
{
    QFETCH(double, seconds);
    QFETCH(int, ticks);

    ClockedTween rig;
    auto &[clock, frameClock, tween] = rig;
    tween.setAmbientPace(true);
    QSignalSpy steps(&tween, &FrameTween::progressChanged);
    tween.start(seconds, seconds > 1);
    advanceTicks(clock, ticks - 1, ambientTick);
    QVERIFY(tween.isRunning());
    QVERIFY(tween.progress() < 1.0);
    advanceTicks(clock, 1, ambientTick);
    QCOMPARE(tween.progress(), 1.0);
    QVERIFY(!tween.isRunning());
    QCOMPARE(steps.count(), 1 + ticks); // its start, then one step a tick
}

// A card lit by a line change starts its transition inside the tick that took the line, after
// that tick's work: it still lands on the tick nearest its end counted from that frame.
void FrameTweenTest::aTransitionStartedByATickCountsFromIt()
{
    ClockedTween rig;
    auto &[clock, frameClock, tween] = rig;
    tween.setAmbientPace(true);
    QObject litWords;
    frameClock.hold(&litWords, FrameClock::Pace::Ambient);
    bool started = false;
    connect(&frameClock, &FrameClock::ticked, this, [&, clock = &clock, tween = &tween] {
        if (std::exchange(started, true))
            return;
        clock->advance(15ms); // the line change's own work
        tween->start(0.25);
    });
    advanceTicks(clock, 1, ambientTick);
    QVERIFY(tween.isRunning());
    advanceTicks(clock, 1, ambientTick - 15ms); // the ticks come when due
    QVERIFY(tween.isRunning());
    advanceTicks(clock, 1, ambientTick);
    QCOMPARE(tween.progress(), 1.0);
    QVERIFY(!tween.isRunning());
}

void FrameTweenTest::itsPaceSetsItsSteps_data()
{
    QTest::addColumn<bool>("ambientPace");
    QTest::addColumn<bool>("scrollPace");
    QTest::addColumn<int>("steps"); // in a 0.35 s run, the last landing
    QTest::newRow("a transition: 30 a second") << false << false << 11;
    QTest::newRow("a list scroll: 60 a second") << false << true << 21;
    // 0.35 s lies between two ambient ticks: it lands on the earlier.
    QTest::newRow("the ambient pace wins: 10 a second") << true << true << 3;
}

void FrameTweenTest::itsPaceSetsItsSteps()
{
    QFETCH(bool, ambientPace);
    QFETCH(bool, scrollPace);
    QFETCH(int, steps);
    ClockedTween rig;
    auto &[clock, frameClock, tween] = rig;
    tween.setAmbientPace(ambientPace);
    tween.setScrollPace(scrollPace);
    QSignalSpy changes(&tween, &FrameTween::progressChanged);
    tween.start(0.35);
    advanceTicks(clock, 401, 1ms);
    QCOMPARE(changes.count(), 1 + steps); // its start, then its steps
    QCOMPARE(tween.progress(), 1.0);
    QVERIFY(!tween.isRunning());
}

void FrameTweenTest::holdsTheClockOnlyWhileRunning()
{
    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
    QObject ambient;
    frameClock.hold(&ambient);
    FrameTween a;
    FrameTween b;
    a.setFrameClock(&frameClock);
    b.setFrameClock(&frameClock);
    QSignalSpy ticks(&frameClock, &FrameClock::ticked);
    QSignalSpy aSteps(&a, &FrameTween::progressChanged);

    a.start(0.25);
    b.start(1.0);
    QCOMPARE(clock.pendingSleepers(), 1); // one timer for the ambient animation and both tweens
    advanceTicks(clock, 8);
    QCOMPARE(ticks.count(), 8);
    QCOMPARE(aSteps.count(), 1 + 8); // its start, then one step a tick
    QVERIFY(!a.isRunning());

    b.stop();
    const double stoppedAt = b.progress();
    frameClock.release(&ambient);
    QVERIFY(!frameClock.isRunning()); // neither a finished nor a stopped tween holds it
    QTRY_COMPARE(clock.pendingSleepers(), 0);
    QCOMPARE(b.progress(), stoppedAt);

    // A tween that goes away mid-way releases the clock.
    auto c = std::make_unique<FrameTween>();
    c->setFrameClock(&frameClock);
    c->start(1.0);
    QVERIFY(frameClock.isRunning());
    c.reset();
    QVERIFY(!frameClock.isRunning());

    // A tween whose clock goes away mid-way lands at its end and lets the clock go.
    FrameTween d;
    d.setFrameClock(&frameClock);
    d.start(1.0);
    advanceTicks(clock, 2);
    d.setFrameClock(nullptr);
    QVERIFY(!frameClock.isRunning());
    QVERIFY(!d.isRunning());
    QCOMPARE(d.progress(), 1.0);
}

void FrameTweenTest::aRestartAnnouncesItsStartAgain()
{
    // A view applies `from + (to − from) × progress` on every announcement, so a restart must
    // announce progress 0 (new `from`), and a landing without a clock must announce 1 even when
    // the last value was 1 already.
    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
    FrameTween tween;
    QSignalSpy steps(&tween, &FrameTween::progressChanged);
    tween.start(0.4);
    tween.start(0.4);
    QCOMPARE(steps.count(), 2);
    tween.setFrameClock(&frameClock); // lands the running one: 1
    tween.start(0.4);
    advanceTicks(clock, 1);
    tween.start(0.4);
    QCOMPARE(tween.progress(), 0.0);
    QCOMPARE(steps.count(), 6);
}

void FrameTweenTest::withoutAClockQtPacesIt()
{
    FrameTween tween;
    QSignalSpy steps(&tween, &FrameTween::progressChanged);
    tween.start(0.2);
    QVERIFY(tween.isRunning());
    QCOMPARE(tween.progress(), 0.0);
    QTRY_VERIFY(!tween.isRunning());
    QCOMPARE(tween.progress(), 1.0);
    QVERIFY(steps.count() > 2); // on its way, not a jump
}

void FrameTweenTest::periodicChangesWaitForTheNextTick()
{
    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
    QStringList calls;
    QObject view;
    // Still: at once.
    frameClock.atNextTick(&view, [&] { calls << QStringLiteral("still"); });
    QCOMPARE(calls, QStringList{QStringLiteral("still")});

    QObject ambient;
    frameClock.hold(&ambient);
    connect(&frameClock, &FrameClock::ticked, &view, [&] { calls << QStringLiteral("tick"); });
    frameClock.atNextTick(&view, [&] { calls << QStringLiteral("first"); });
    frameClock.atNextTick(&view, [&] { calls << QStringLiteral("second"); }); // replaces the first
    auto gone = std::make_unique<QObject>();
    frameClock.atNextTick(gone.get(), [&] { calls << QStringLiteral("gone"); });
    gone.reset();
    QCOMPARE(calls.size(), 1); // nothing between ticks
    clock.advance(transitionTick);
    QTRY_COMPARE(calls, (QStringList{QStringLiteral("still"), QStringLiteral("second"), QStringLiteral("tick")}));

    // A clock that stops runs what waits at once.
    frameClock.atNextTick(&view, [&] { calls << QStringLiteral("at stop"); });
    frameClock.release(&ambient);
    QCOMPARE(calls.last(), QStringLiteral("at stop"));
}

QTEST_GUILESS_MAIN(FrameTweenTest)
#include "tst_frametween.moc"
