// A window paced by the frame clock: while the clock runs it draws at most one frame a tick; a
// request after that tick's frame is held and drawn with the next tick (or when the clock
// stops), never dropped; while the clock is still every request goes through. In the hardware
// profile nothing is held.

#include "ui/design/FrameClock.h"
#include "ui/design/FramePacer.h"

#include "platform/Clock.h"

#include <QEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

namespace {
// The software profile's intervals (the clock's default profile).
constexpr auto transitionTick = FrameClock::interval(RenderProfile::Software, FrameClock::Pace::Transition);
} // namespace

namespace {

// Counts the update requests that reach the window: installed before the pacer, it sees only
// what the pacer lets through; installed after it, every request.
class FrameCounter : public QObject
{
public:
    int frames = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::UpdateRequest)
            ++frames;
        return false;
    }
};

} // namespace

class FramePacerTest : public QObject
{
    Q_OBJECT

private slots:
    void framesPerTick_data();
    void framesPerTick();
};

void FramePacerTest::framesPerTick_data()
{
    QTest::addColumn<RenderProfile>("profile");
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("shown");
    // r: the window asks for a frame; t: a tick; s: the clock stops; i: the user clicks
    // the window; w: two seconds pass without input.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("holding");

    QTest::newRow("still clock: every request") << RenderProfile::Software << false << true << "rrr" << 3 << false;
    QTest::newRow("one frame a tick, the rest held") << RenderProfile::Software << true << true << "trrr" << 1 << true;
    QTest::newRow("held request drawn with the next tick") << RenderProfile::Software << true << true << "trrt" << 2 << false;
    QTest::newRow("a new tick allows a new frame") << RenderProfile::Software << true << true << "trtrtr" << 3 << false;
    QTest::newRow("held request drawn when the clock stops") << RenderProfile::Software << true << true << "trrs" << 2 << false;
    QTest::newRow("input: a held request goes through, then every request") << RenderProfile::Software << true << true << "trrirr" << 4 << false;
    QTest::newRow("paced again once the input is over") << RenderProfile::Software << true << true << "tirrwtrr" << 3 << true;
    // A window off screen draws nothing; its requests are not held.
    QTest::newRow("hidden window: not paced") << RenderProfile::Software << true << false << "trr" << 2 << false;
    // Where a GPU draws, frames are cheap: nothing is held.
    QTest::newRow("hardware profile: every request") << RenderProfile::Hardware << true << true << "trrrtr" << 4 << false;
}

void FramePacerTest::framesPerTick()
{
    QFETCH(RenderProfile, profile);
    QFETCH(bool, running);
    QFETCH(bool, shown);
    QFETCH(QString, steps);
    QFETCH(int, frames);
    QFETCH(bool, holding);

    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
    frameClock.setRenderProfile(profile);
    QObject holder;
    if (running)
        frameClock.hold(&holder);
    QWindow window;
    window.create();
    if (shown) {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    FrameCounter counter;
    window.installEventFilter(&counter);
    FramePacer pacer(&window, &frameClock);
    FrameCounter requests; // called first: sees what the pacer holds too
    window.installEventFilter(&requests);
    QSignalSpy ticks(&frameClock, &FrameClock::ticked);

    // Each step waits until what it causes has happened: the requests it makes have come through
    // the platform's update timer, the tick it makes has run.
    int requested = 0;
    int ticked = 0;
    for (const QChar step : steps) {
        const bool wasHolding = pacer.isHolding();
        if (step == u'r') {
            window.requestUpdate();
            ++requested;
        } else if (step == u't') {
            clock.advance(transitionTick);
            ++ticked;
            QTRY_COMPARE(ticks.count(), ticked);
        } else if (step == u'i') {
            QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(5, 5));
        } else if (step == u'w') {
            clock.advance(std::chrono::seconds(2));
            if (frameClock.isRunning()) {
                ++ticked; // a late tick
                QTRY_COMPARE(ticks.count(), ticked);
            }
        } else {
            frameClock.release(&holder);
        }
        if (wasHolding && !pacer.isHolding())
            ++requested; // the held request is asked for again
        QTRY_COMPARE(requests.frames, requested);
    }
    QCOMPARE(counter.frames, frames);
    QCOMPARE(pacer.isHolding(), holding);
}

QTEST_MAIN(FramePacerTest)
#include "tst_framepacer.moc"
