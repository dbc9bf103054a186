// The render profile: what draws the window decides it (a software rasterizer or Qt Quick's
// software backend: software; anything else: hardware), the environment forces either. Then each
// profile's rates on a hand-driven clock: in the software profile the clock ticks at the fastest
// pace held and the slower ones step on its ticks at their own rate; in the hardware one each
// ambient pace steps at its own cap, and transitions leave the clock for Qt's animation timer.

#include "ui/design/FrameClock.h"
#include "ui/design/FrameTween.h"
#include "ui/design/RenderProfile.h"

#include "platform/Clock.h"

#include <QSignalSpy>
#include <QTest>

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
    void hardwareTransitionsLeaveTheClock();
};

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
    // In the software profile a slower pace steps on the faster one's ticks: no frame of its own.
    const qsizetype fastest = paces.indexOf(Pace::Transition);
    if (profile == RenderProfile::Software && fastest >= 0) {
        for (const auto &times : std::as_const(stepTimes)) {
            for (const double t : times)
                QVERIFY(stepTimes[fastest].contains(t));
        }
    }
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
