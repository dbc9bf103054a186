// A window paced by the frame clock: while the clock runs it draws at most one frame a tick; a
// request after that tick's frame is held and drawn with the next tick (or when the clock
// stops), never dropped; while the clock is still every request goes through.

#include "ui/design/FrameClock.h"
#include "ui/design/FramePacer.h"

#include "platform/Clock.h"

#include <QEvent>
#include <QTest>
#include <QWindow>

namespace {

// Counts the update requests that reach the window (installed before the pacer, so it sees
// only what the pacer lets through).
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
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("shown");
    // r: the window asks for a frame; t: a tick; s: the clock stops; i: the user clicks
    // the window; w: two seconds pass without input.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("holding");

    QTest::newRow("still clock: every request") << false << true << "rrr" << 3 << false;
    QTest::newRow("one frame a tick, the rest held") << true << true << "trrr" << 1 << true;
    QTest::newRow("held request drawn with the next tick") << true << true << "trrt" << 2 << false;
    QTest::newRow("a new tick allows a new frame") << true << true << "trtrtr" << 3 << false;
    QTest::newRow("held request drawn when the clock stops") << true << true << "trrs" << 2 << false;
    QTest::newRow("input: a held request goes through, then every request") << true << true << "trrirr" << 4 << false;
    QTest::newRow("paced again once the input is over") << true << true << "tirrwtrr" << 3 << true;
    // A window off screen draws nothing; its requests are not held.
    QTest::newRow("hidden window: not paced") << true << false << "trr" << 2 << false;
}

void FramePacerTest::framesPerTick()
{
    QFETCH(bool, running);
    QFETCH(bool, shown);
    QFETCH(QString, steps);
    QFETCH(int, frames);
    QFETCH(bool, holding);

    ManualContinuousClock clock;
    FrameClock frameClock(&clock);
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
    // Every request that reaches the window, held ones included (installed after the pacer, so
    // it sees them first).
    FrameCounter arrived;
    window.installEventFilter(&arrived);
    int asked = 0; // by the steps, and by the pacer when it lets a held request go

    for (const QChar step : steps) {
        const bool wasHolding = pacer.isHolding();
        if (step == u'r') {
            window.requestUpdate();
        } else if (step == u't') {
            clock.advance(FrameClock::transitionInterval);
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
        } else if (step == u'i') {
            QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(5, 5));
        } else if (step == u'w') {
            clock.advance(std::chrono::seconds(2));
        } else {
            frameClock.release(&holder);
        }
        if (step == u'r' || (wasHolding && !pacer.isHolding() && window.isExposed()))
            ++asked;
        // Requests come through the platform's update timer: each step waits for its own to
        // arrive, however late (a request made while one is still on its way would merge with it).
        QTRY_COMPARE(arrived.frames, asked);
    }
    QCOMPARE(counter.frames, frames);
    QCOMPARE(pacer.isHolding(), holding);
}

QTEST_MAIN(FramePacerTest)
#include "tst_framepacer.moc"
