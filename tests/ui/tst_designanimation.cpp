// The ambient animations on a hand-driven clock: with the gate off nothing ticks, repaints or
// moves; with it on the particles take every tick and the mesh at most one per 50 ms; off again
// the still frames return. Reduce Motion from a fake portal turns the gate off and on live.

#include "ui/design/AnimationActivityView.h"
#include "ui/design/FrameClock.h"
#include "ui/design/MeshGradient.h"
#include "ui/design/MotionPreferences.h"
#include "ui/design/ParticleCanvas.h"

#include "DesignTestSupport.h"
#include "FakeSettingsPortal.h"
#include "PrivateSessionBus.h"

#include <QSignalSpy>

namespace {
// The software profile's intervals (the clock's default profile).
constexpr auto transitionTick = FrameClock::interval(RenderProfile::Software, FrameClock::Pace::Transition);
constexpr auto ambientTick = FrameClock::interval(RenderProfile::Software, FrameClock::Pace::Ambient);
} // namespace

using namespace designtest;
using namespace std::chrono_literals;

namespace {

const QByteArray sceneQml = R"(
import QtQuick
import Cantorella.Design
Item {
    id: root
    property FrameClock frameClock
    property MotionPreferences prefs
    property bool playing: false
    AnimationActivityView {
        id: gate
        objectName: "gate"
        anchors.fill: parent
        isPlaying: root.playing
        motionPreferences: root.prefs
        MeshGradientBackground {
            objectName: "mesh"
            anchors.fill: parent
            isAnimating: gate.active
            frameClock: root.frameClock
        }
        ParticleCanvas {
            objectName: "particles"
            anchors.fill: parent
            isAnimating: gate.active
            frameClock: root.frameClock
        }
    }
}
)";

const QString gnome = QStringLiteral("org.gnome.desktop.interface");
const QString animationsKey = QStringLiteral("enable-animations");

} // namespace

class DesignAnimationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        configureApplication();
        QVERIFY(m_bus.isRunning());
        m_portal = std::make_unique<FakeSettingsPortal>(m_bus.connect(QStringLiteral("portal")));
        m_portal->set(gnome, animationsKey, true);
        QVERIFY(m_portal->publish());
    }
    void init()
    {
        failOnAnyWarning();
        m_clock = std::make_unique<ManualContinuousClock>();
        m_frameClock = std::make_unique<FrameClock>(m_clock.get());
        m_prefs = std::make_unique<MotionPreferences>(QByteArray(), m_bus.connect(QStringLiteral("prefs%1").arg(++m_n)));
        m_scene = std::make_unique<Scene>();
        QVERIFY(m_scene->load(sceneQml, {320, 380},
                              {{QStringLiteral("frameClock"), QVariant::fromValue(m_frameClock.get())},
                               {QStringLiteral("prefs"), QVariant::fromValue(m_prefs.get())}}));
        m_gate = m_scene->find<AnimationActivityView>(QStringLiteral("gate"));
        m_particles = m_scene->find<ParticleCanvas>(QStringLiteral("particles"));
        m_drift = m_scene->root->findChild<MeshDrift *>();
        QVERIFY(m_gate && m_particles && m_drift);
        QTest::qWait(50); // the portal's first answers
    }
    void cleanup()
    {
        m_scene.reset();
        m_prefs.reset();
        m_frameClock.reset();
        m_clock.reset();
        m_portal->change(gnome, animationsKey, true);
    }

    void frameClockRunsWhileAnyHolderHolds();
    void frameClockTicksAtTheFastestPaceHeld_data();
    void frameClockTicksAtTheFastestPaceHeld();
    void aFasterPaceTakesEffectAtOnce();
    void gatedOffNothingTicksOrRepaints();
    void animatingThenStillAgain();
    void reduceMotionFromThePortalFlipsTheGateLive();

private:
    // Moves the clock one ambient frame at a time, letting each woken sleeper run.
    void advanceFrames(int frames)
    {
        for (int i = 0; i < frames; ++i) {
            m_clock->advance(ambientTick);
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
        }
    }
    void setPlaying(bool playing) { QVERIFY(m_scene->root->setProperty("playing", playing)); }

    PrivateSessionBus m_bus;
    std::unique_ptr<FakeSettingsPortal> m_portal;
    std::unique_ptr<ManualContinuousClock> m_clock;
    std::unique_ptr<FrameClock> m_frameClock;
    std::unique_ptr<MotionPreferences> m_prefs;
    std::unique_ptr<Scene> m_scene;
    AnimationActivityView *m_gate = nullptr;
    ParticleCanvas *m_particles = nullptr;
    MeshDrift *m_drift = nullptr;
    int m_n = 0;
};

void DesignAnimationTest::frameClockRunsWhileAnyHolderHolds()
{
    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
    QSignalSpy running(&frameClock, &FrameClock::runningChanged);
    auto a = std::make_unique<QObject>();
    QObject b;
    frameClock.hold(a.get());
    frameClock.hold(a.get()); // idempotent
    frameClock.hold(&b);
    QCOMPARE(running.count(), 1);
    QTRY_COMPARE(clock.pendingSleepers(), 1);

    frameClock.release(&b);
    QVERIFY(frameClock.isRunning());
    a.reset(); // a holder that goes away releases its hold
    QVERIFY(!frameClock.isRunning());
    QCOMPARE(running.count(), 2);
    QTRY_COMPARE(clock.pendingSleepers(), 0);

    // A late wake does not catch up in a burst: one tick, then the regular interval.
    QSignalSpy ticks(&frameClock, &FrameClock::ticked);
    frameClock.hold(&b);
    clock.advance(std::chrono::seconds(2));
    QTRY_COMPARE(ticks.count(), 1);
    clock.advance(transitionTick / 2);
    QTest::qWait(20);
    QCOMPARE(ticks.count(), 1);
    clock.advance(transitionTick - transitionTick / 2);
    QTRY_COMPARE(ticks.count(), 2);
    frameClock.release(&b);
}

void DesignAnimationTest::frameClockTicksAtTheFastestPaceHeld_data()
{
    using Pace = FrameClock::Pace;
    QTest::addColumn<QList<Pace>>("paces"); // one holder each, held in this order
    QTest::addColumn<std::chrono::nanoseconds>("interval");
    QTest::newRow("ambient") << QList<Pace>{Pace::Ambient} << ambientTick;
    QTest::newRow("transition") << QList<Pace>{Pace::Transition} << transitionTick;
    QTest::newRow("both") << QList<Pace>{Pace::Ambient, Pace::Transition} << transitionTick;
    QTest::newRow("two ambient") << QList<Pace>{Pace::Ambient, Pace::Ambient} << ambientTick;
}

void DesignAnimationTest::frameClockTicksAtTheFastestPaceHeld()
{
    QFETCH(QList<FrameClock::Pace>, paces);
    QFETCH(std::chrono::nanoseconds, interval);
    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
    std::vector<std::unique_ptr<QObject>> holders;
    for (const auto pace : paces) {
        holders.push_back(std::make_unique<QObject>());
        frameClock.hold(holders.back().get(), pace);
    }
    QSignalSpy ticks(&frameClock, &FrameClock::ticked);
    for (int n = 1; n <= 3; ++n) {
        QTRY_COMPARE(clock.pendingSleepers(), 1);
        clock.advance(interval - std::chrono::nanoseconds(1));
        QTest::qWait(5);
        QCOMPARE(ticks.count(), n - 1); // never early
        clock.advance(std::chrono::nanoseconds(1));
        QTRY_COMPARE(ticks.count(), n);
    }
}

void DesignAnimationTest::aFasterPaceTakesEffectAtOnce()
{
    using namespace std::chrono_literals;
    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
    QObject ambient, transition;
    QSignalSpy ticks(&frameClock, &FrameClock::ticked);
    frameClock.hold(&ambient, FrameClock::Pace::Ambient);
    QTRY_COMPARE(clock.pendingSleepers(), 1);
    clock.advance(ambientTick);
    QTRY_COMPARE(ticks.count(), 1);

    // A transition starting 20 ms after a tick gets its first step one short interval after that
    // tick, not at the ambient tick already waited for.
    clock.advance(20ms);
    frameClock.hold(&transition);
    QTRY_COMPARE(clock.pendingSleepers(), 1); // the slow sleep was given up
    clock.advance(transitionTick - 20ms);
    QTRY_COMPARE(ticks.count(), 2);
    clock.advance(transitionTick);
    QTRY_COMPARE(ticks.count(), 3);

    // Once it ends, the next tick still comes at the short interval, then the ambient pace.
    frameClock.release(&transition);
    clock.advance(transitionTick);
    QTRY_COMPARE(ticks.count(), 4);
    clock.advance(transitionTick);
    QTest::qWait(5);
    QCOMPARE(ticks.count(), 4);
    clock.advance(ambientTick - transitionTick);
    QTRY_COMPARE(ticks.count(), 5);

    // A transition started by a call the tick runs (atNextTick): the tick still reaches its
    // handlers, and the next one comes a short interval after it.
    frameClock.atNextTick(&transition, [&frameClock, &transition] { frameClock.hold(&transition); });
    clock.advance(ambientTick);
    QTRY_COMPARE(ticks.count(), 6);
    clock.advance(transitionTick);
    QTRY_COMPARE(ticks.count(), 7);
}

void DesignAnimationTest::gatedOffNothingTicksOrRepaints()
{
    QCOMPARE(m_gate->isActive(), false);
    QCOMPARE(m_particles->drawnTime(), m_particles->staticNow());
    QCOMPARE(m_drift->progress(), 0.0);
    QTest::qWait(100); // the first frames are on screen

    QSignalSpy ticks(m_frameClock.get(), &FrameClock::ticked);
    QSignalSpy frames(m_scene->window.get(), &QQuickWindow::afterRendering);
    QSignalSpy particleFrames(m_particles, &ParticleCanvas::drawnTimeChanged);
    QSignalSpy meshFrames(m_drift, &MeshDrift::transformChanged);
    advanceFrames(100); // 10 s
    QTest::qWait(100);
    QCOMPARE(m_frameClock->isRunning(), false);
    QCOMPARE(m_clock->pendingSleepers(), 0); // no timer at all
    QCOMPARE(ticks.count(), 0);
    QCOMPARE(particleFrames.count(), 0);
    QCOMPARE(meshFrames.count(), 0);
    QCOMPARE(frames.count(), 0);
}

void DesignAnimationTest::animatingThenStillAgain()
{
    QTest::qWait(100);
    const QImage still = m_scene->window->grabWindow();

    setPlaying(true);
    QTRY_COMPARE(m_gate->isActive(), true);
    QCOMPARE(m_frameClock->isRunning(), true);
    QTRY_COMPARE(m_clock->pendingSleepers(), 1); // one timer for both animations

    QSignalSpy ticks(m_frameClock.get(), &FrameClock::ticked);
    QSignalSpy particleFrames(m_particles, &ParticleCanvas::drawnTimeChanged);
    QSignalSpy frames(m_scene->window.get(), &QQuickWindow::afterRendering);
    QList<double> meshTimes;
    connect(m_drift, &MeshDrift::transformChanged, this, [this, &meshTimes] { meshTimes << m_frameClock->now(); });
    advanceFrames(10); // 1 s
    QCOMPARE(ticks.count(), 10);
    QCOMPARE(particleFrames.count(), 10);
    QCOMPARE(meshTimes.size(), 10);
    for (qsizetype i = 1; i < meshTimes.size(); ++i)
        QVERIFY(meshTimes[i] - meshTimes[i - 1] >= MeshDrift::minimumInterval - 1e-9);
    QVERIFY(m_particles->drawnTime() != m_particles->staticNow());
    QTRY_VERIFY(frames.count() > 0); // the window does render the frames it is given

    setPlaying(false);
    QTRY_COMPARE(m_gate->isActive(), false);
    QTRY_COMPARE(m_clock->pendingSleepers(), 0);
    QCOMPARE(m_particles->drawnTime(), m_particles->staticNow());
    QCOMPARE(m_drift->progress(), 0.0);
    QTRY_COMPARE(m_scene->window->grabWindow(), still);
}

void DesignAnimationTest::reduceMotionFromThePortalFlipsTheGateLive()
{
    setPlaying(true);
    QTRY_COMPARE(m_gate->isActive(), true);
    QSignalSpy activeChanged(m_gate, &AnimationActivityView::activeChanged);

    m_portal->change(gnome, animationsKey, false);
    QTRY_COMPARE(m_gate->isActive(), false);
    QTRY_COMPARE(m_clock->pendingSleepers(), 0);
    QCOMPARE(activeChanged.count(), 1);

    m_portal->change(gnome, animationsKey, false); // no change
    QTest::qWait(50);
    QCOMPARE(activeChanged.count(), 1);

    m_portal->change(gnome, animationsKey, true);
    QTRY_COMPARE(m_gate->isActive(), true);
    QCOMPARE(activeChanged.count(), 2);
    QCOMPARE(m_frameClock->isRunning(), true);
}

QTEST_MAIN(DesignAnimationTest)
#include "tst_designanimation.moc"
