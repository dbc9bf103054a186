// The render profile: what draws the window decides it (a software rasterizer or Qt Quick's
// software backend: software; anything else: hardware), the environment forces either. Then each
// profile's rates on a hand-driven clock: in the software profile the clock ticks at the fastest
// pace held and the slower ones step on its ticks at their own rate; in the hardware one each
// ambient pace steps at its own cap, and transitions leave the clock for Qt's animation timer. A
// pace woken late steps once and keeps its interval from there; a profile change re-arms the wait.

#include "ui/design/FrameClock.h"
#include "ui/design/FrameTween.h"
#include "ui/design/RenderProfile.h"

#include "platform/Clock.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

using namespace std::chrono_literals;
using Pace = FrameClock::Pace;

class RenderProfileTest : public QObject
{
    Q_OBJECT

private slots:
    void decision_data();
    void decision();
    void rasterizerThreads_data();
    void rasterizerThreads();
    void stepsPerPace_data();
    void stepsPerPace();
    void aLatePaceStepsOnceThenKeepsItsInterval_data();
    void aLatePaceStepsOnceThenKeepsItsInterval();
    void aProfileChangeRearmsTheWait_data();
    void aProfileChangeRearmsTheWait();
    void hardwareTransitionsLeaveTheClock();
};

namespace {

// Lets a sleep the clock has passed end (its wake-up is queued); a sleep not due yet stays.
void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Moves the clock on by `interval` and says what is wrong with the holder's steps meanwhile:
// nothing when exactly one came, at the end and not a nanosecond earlier.
QString nextStepAfter(ManualContinuousClock &clock, std::chrono::nanoseconds interval, const QList<double> &steps)
{
    const qsizetype before = steps.size();
    clock.advance(interval - 1ns);
    settle();
    if (steps.size() != before)
        return QStringLiteral("%1 step(s) before the interval").arg(steps.size() - before);
    clock.advance(1ns);
    if (!QTest::qWaitFor([&] { return steps.size() > before; }, 10'000))
        return QStringLiteral("no step at the interval");
    settle();
    return steps.size() == before + 1 ? QString() : QStringLiteral("%1 steps at once").arg(steps.size() - before);
}

} // namespace

void RenderProfileTest::decision_data()
{
    QTest::addColumn<QSGRendererInterface::GraphicsApi>("api");
    QTest::addColumn<QByteArray>("renderer");
    QTest::addColumn<QByteArray>("forced");
    QTest::addColumn<RenderProfile>("profile");

    const auto gl = QSGRendererInterface::OpenGL;
    QTest::newRow("llvmpipe") << gl << QByteArray("llvmpipe (LLVM 15.0.6, 256 bits)") << QByteArray() << RenderProfile::Software;
    QTest::newRow("softpipe") << gl << QByteArray("softpipe") << QByteArray() << RenderProfile::Software;
    QTest::newRow("swrast") << gl << QByteArray("Software Rasterizer") << QByteArray() << RenderProfile::Software;
    QTest::newRow("a GPU") << gl << QByteArray("AMD Radeon RX 6600 (radeonsi, navi23, LLVM 15.0.6, DRM 3.49)") << QByteArray() << RenderProfile::Hardware;
    QTest::newRow("OpenGL, no renderer string") << gl << QByteArray() << QByteArray() << RenderProfile::Hardware;
    QTest::newRow("Qt Quick's software backend") << QSGRendererInterface::Software << QByteArray() << QByteArray() << RenderProfile::Software;
    QTest::newRow("Vulkan") << QSGRendererInterface::Vulkan << QByteArray() << QByteArray() << RenderProfile::Hardware;
    QTest::newRow("forced hardware over llvmpipe") << gl << QByteArray("llvmpipe") << QByteArray("hardware") << RenderProfile::Hardware;
    QTest::newRow("forced software over a GPU") << gl << QByteArray("Mesa Intel(R) UHD Graphics 620") << QByteArray(" Software\n") << RenderProfile::Software;
    QTest::newRow("an unknown override is ignored") << gl << QByteArray("llvmpipe") << QByteArray("fast") << RenderProfile::Software;
}

void RenderProfileTest::decision()
{
    QFETCH(QSGRendererInterface::GraphicsApi, api);
    QFETCH(QByteArray, renderer);
    QFETCH(QByteArray, forced);
    QFETCH(RenderProfile, profile);
    QCOMPARE(RenderProfileProbe::decide(api, renderer, forced).profile, profile);
}

void RenderProfileTest::rasterizerThreads_data()
{
    QTest::addColumn<bool>("chosen");
    QTest::addColumn<QByteArray>("forced");
    QTest::addColumn<QByteArray>("threads"); // empty: LP_NUM_THREADS is left alone

    QTest::newRow("undecided") << false << QByteArray() << QByteArray("2");
    QTest::newRow("forced software") << false << QByteArray("software") << QByteArray("2");
    QTest::newRow("forced hardware keeps every thread") << false << QByteArray(" Hardware\n") << QByteArray();
    QTest::newRow("an unknown override") << false << QByteArray("fast") << QByteArray("2");
    QTest::newRow("the variable already set still chooses") << true << QByteArray() << QByteArray();
}

void RenderProfileTest::rasterizerThreads()
{
    QFETCH(bool, chosen);
    QFETCH(QByteArray, forced);
    QFETCH(QByteArray, threads);
    QCOMPARE(RenderProfileProbe::softwareRasterizerThreads(chosen, forced).value_or(QByteArray()), threads);
}

void RenderProfileTest::stepsPerPace_data()
{
    QTest::addColumn<RenderProfile>("profile");
    QTest::addColumn<QList<Pace>>("paces"); // one holder each
    QTest::addColumn<QList<int>>("steps");  // each holder's steps in the first 301 ms

    const auto sw = RenderProfile::Software;
    const auto hw = RenderProfile::Hardware;
    QTest::newRow("software: ambient and mesh at 10 a second") << sw << QList<Pace>{Pace::Ambient, Pace::Mesh} << QList<int>{3, 3};
    QTest::newRow("software: a transition at 30, the ambient paces still at 10")
        << sw << QList<Pace>{Pace::Ambient, Pace::Mesh, Pace::Transition} << QList<int>{3, 3, 9};
    QTest::newRow("software: a scroll at 60, a transition on every other tick")
        << sw << QList<Pace>{Pace::Ambient, Pace::Transition, Pace::Scroll} << QList<int>{3, 9, 18};
    QTest::newRow("hardware: mesh at 20, the rest at 30") << hw << QList<Pace>{Pace::Ambient, Pace::Mesh} << QList<int>{9, 6};
    QTest::newRow("hardware: mesh alone") << hw << QList<Pace>{Pace::Mesh} << QList<int>{6};
}

void RenderProfileTest::stepsPerPace()
{
    QFETCH(RenderProfile, profile);
    QFETCH(QList<Pace>, paces);
    QFETCH(QList<int>, steps);

    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
    frameClock.setRenderProfile(profile);
    const double start = frameClock.now();
    std::vector<std::unique_ptr<QObject>> holders;
    QList<QList<double>> stepTimes(paces.size());
    for (qsizetype i = 0; i < paces.size(); ++i) {
        holders.push_back(std::make_unique<QObject>());
        frameClock.connectSteps(holders.back().get(), [&stepTimes, i](double now) { stepTimes[i] << now; });
        frameClock.hold(holders.back().get(), paces[i]);
    }
    for (int ms = 0; ms < 301; ++ms) {
        clock.advance(1ms);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    for (qsizetype i = 0; i < paces.size(); ++i) {
        QCOMPARE(stepTimes[i].size(), steps[i]);
        // Never closer than the pace's interval (ticks come on whole milliseconds here).
        const double interval = std::chrono::duration<double>(FrameClock::interval(profile, paces[i])).count();
        double last = start;
        for (const double t : std::as_const(stepTimes[i])) {
            QVERIFY2(t - last >= interval - 0.001, qPrintable(QStringLiteral("%1 s after the last").arg(t - last)));
            last = t;
        }
    }
    // In the software profile a slower pace steps on the fastest one's ticks: no frame of its own.
    const auto shorter = [profile](Pace a, Pace b) { return FrameClock::interval(profile, a) < FrameClock::interval(profile, b); };
    const auto fastest = std::min_element(paces.cbegin(), paces.cend(), shorter) - paces.cbegin();
    if (profile == RenderProfile::Software) {
        for (const auto &times : std::as_const(stepTimes)) {
            for (const double t : times)
                QVERIFY(stepTimes[fastest].contains(t));
        }
    }
}

void RenderProfileTest::aLatePaceStepsOnceThenKeepsItsInterval_data()
{
    QTest::addColumn<Pace>("pace");
    QTest::addColumn<int>("late"); // whole intervals (and 3 ms) the first tick comes late by
    QTest::newRow("hardware ambient, five intervals late") << Pace::Ambient << 5;
    QTest::newRow("hardware mesh, three intervals late") << Pace::Mesh << 3;
    QTest::newRow("hardware ambient, one interval late") << Pace::Ambient << 1;
}

// A pace whose tick comes several intervals late (the process was not scheduled) steps once, then
// one interval after that tick, with no burst of steps to catch up.
void RenderProfileTest::aLatePaceStepsOnceThenKeepsItsInterval()
{
    QFETCH(Pace, pace);
    QFETCH(int, late);
    const auto interval = FrameClock::interval(RenderProfile::Hardware, pace);
    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
    frameClock.setRenderProfile(RenderProfile::Hardware);
    QObject holder;
    QList<double> steps;
    frameClock.connectSteps(&holder, [&steps](double now) { steps << now; });
    frameClock.hold(&holder, pace);
    QTRY_COMPARE(clock.pendingSleepers(), 1);

    clock.advance(interval * (late + 1) + 3ms);
    QTRY_VERIFY(!steps.isEmpty());
    settle();
    QCOMPARE(steps.size(), 1);
    QCOMPARE(steps.first(), frameClock.now());
    QCOMPARE(nextStepAfter(clock, interval, steps), QString());
    QCOMPARE(nextStepAfter(clock, interval, steps), QString());
}

void RenderProfileTest::aProfileChangeRearmsTheWait_data()
{
    QTest::addColumn<RenderProfile>("from");
    QTest::addColumn<Pace>("pace");
    const auto sw = RenderProfile::Software;
    const auto hw = RenderProfile::Hardware;
    QTest::newRow("to hardware: ambient from 10 a second to 30") << sw << Pace::Ambient;
    QTest::newRow("to hardware: mesh from 10 a second to 20") << sw << Pace::Mesh;
    QTest::newRow("to software: ambient from 30 a second to 10") << hw << Pace::Ambient;
    QTest::newRow("to software: mesh from 20 a second to 10") << hw << Pace::Mesh;
}

// The profile changes while the clock waits for its next tick: the wait starts over at the new
// profile's interval, from the change.
void RenderProfileTest::aProfileChangeRearmsTheWait()
{
    QFETCH(RenderProfile, from);
    QFETCH(Pace, pace);
    const RenderProfile to = from == RenderProfile::Software ? RenderProfile::Hardware : RenderProfile::Software;
    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
    frameClock.setRenderProfile(from);
    QObject holder;
    QList<double> steps;
    frameClock.connectSteps(&holder, [&steps](double now) { steps << now; });
    frameClock.hold(&holder, pace);
    QTRY_COMPARE(clock.pendingSleepers(), 1);
    QCOMPARE(nextStepAfter(clock, FrameClock::interval(from, pace), steps), QString());

    clock.advance(10ms);
    settle();
    frameClock.setRenderProfile(to);
    QTRY_COMPARE(clock.pendingSleepers(), 1); // the old wait given up
    QCOMPARE(nextStepAfter(clock, FrameClock::interval(to, pace), steps), QString());
    QCOMPARE(nextStepAfter(clock, FrameClock::interval(to, pace), steps), QString());
}

void RenderProfileTest::hardwareTransitionsLeaveTheClock()
{
    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
    frameClock.setRenderProfile(RenderProfile::Hardware);
    FrameTween tween;
    tween.setFrameClock(&frameClock);
    QSignalSpy steps(&tween, &FrameTween::progressChanged);
    tween.start(0.2);
    QVERIFY(!frameClock.isRunning()); // the hand-driven clock does not move it
    QTRY_VERIFY(!tween.isRunning());
    QCOMPARE(tween.progress(), 1.0);
    QVERIFY(steps.count() > 2); // on its way, not a jump

    // A transition under way when the profile turns to software keeps its pace; the next one
    // steps on the clock.
    frameClock.setRenderProfile(RenderProfile::Software);
    tween.start(0.2);
    QVERIFY(frameClock.isRunning());
    tween.stop();
    QVERIFY(!frameClock.isRunning());
}

QTEST_GUILESS_MAIN(RenderProfileTest)
#include "tst_renderprofile.moc"
