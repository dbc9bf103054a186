#pragma once

#include "ui/design/FrameClock.h"

#include <QObject>
#include <QPointer>
#include <QWindow>

#include <chrono>
#include <optional>

// Paces a window's frames by the shared frame clock in the software render profile: while the
// clock runs, the window renders at most one frame per tick. Every animation steps on the ticks,
// so the tick's frame shows all their changes; a request for a frame that comes after it (a live
// layer re-rendered in a frame asks for one more frame once that frame is done; a view that
// changes between two ticks) is held and drawn with the next tick's frame instead, at most one
// tick late. On a software renderer each such frame costs a whole window's pixels. While the
// clock is still, requests go through as they come; a request held when the clock stops goes
// through then. Input to the window (a press, a drag, the wheel, a key) lifts the pacing for a
// moment: a list the user drags or flicks, and what answers a click, move at the display's rate,
// not the clock's. In the hardware profile it holds nothing: every frame is drawn as it is asked
// for.
class FramePacer : public QObject
{
    Q_OBJECT

public:
    FramePacer(QWindow *window, FrameClock *clock, QObject *parent = nullptr);
    ~FramePacer() override;

    // Requests held since the last tick (0 or 1), for tests.
    bool isHolding() const { return m_holding; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void releaseHeld();
    bool userIsInteracting() const;

    // How long after the last input the window draws unpaced: past a flick's deceleration.
    static constexpr std::chrono::milliseconds interactionSpan{1500};

    QPointer<QWindow> m_window;
    QPointer<FrameClock> m_clock;
    bool m_framedThisTick = false;
    bool m_holding = false;
    std::optional<ContinuousInstant> m_lastInput;
};
