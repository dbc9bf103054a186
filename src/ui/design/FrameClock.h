#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"

#include <QObject>
#include <QPointer>
#include <QHash>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>

// The one source of frames for every ambient animation (particles, mesh, word rows, hue echoes,
// glows) and for the transitions paced by FrameTween (card looks, list scrolls), and only while
// some holder wants frames. With no holder there is no timer and no tick. Every animation steps
// on the same ticks, so one frame shows all their changes. On a software renderer each frame
// costs a whole window's pixels whatever moved, so the rate is the window's cost. A holder says
// its pace: transitions move tens of pixels in a quarter of a second and need 15 ticks a second
// to read as motion; the ambient animations drift a few pixels a second (and the lit words step
// a word at a time), which 10 a second shows as smoothly. The clock ticks at the fastest pace
// held, so an ambient animation steps 15 times a second while a transition runs. Both stay
// within every animation's cap (20 for the mesh field, 30 for the rest). Intervals are rounded
// up so that a tick is never early. Driven by an injected ContinuousClock, so tests move time by
// hand. The application shell makes one and hands it down; there is no global instance.
class FrameClock : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application shell makes the frame clock and hands it down")
    Q_PROPERTY(bool running READ isRunning NOTIFY runningChanged)

public:
    enum class Pace { Transition, Ambient };
    static constexpr std::chrono::nanoseconds transitionInterval{66'666'667};
    static constexpr std::chrono::nanoseconds ambientInterval{100'000'000};

    explicit FrameClock(ContinuousClock *clock, QObject *parent = nullptr);
    ~FrameClock() override;

    ContinuousClock *clock() const { return m_clock; }
    // Seconds on the clock; the time base of every animation the clock drives.
    Q_INVOKABLE double now() const { return m_clock->now().seconds(); }

    // A holder wants ticks at its pace until it releases them (or is destroyed). A second hold
    // by the same holder only changes its pace.
    void hold(QObject *holder, Pace pace = Pace::Transition);
    void release(QObject *holder);
    bool isRunning() const { return !m_holders.isEmpty(); }

    // A view's own periodic change (a position sample, a list tick) made while the clock runs
    // would cost a frame of its own between two ticks: it runs on the next tick instead, just
    // before `ticked`, and shows in that tick's frame. While the clock is still it runs at once.
    // One pending call per context (a later one replaces it); none once the context is gone.
    // When the clock stops, pending calls run at once.
    void atNextTick(QObject *context, std::function<void()> call);
    // The same for a view that may have no frame clock (then at once).
    static void atNextTickOf(FrameClock *clock, QObject *context, std::function<void()> call)
    {
        if (clock)
            clock->atNextTick(context, std::move(call));
        else
            call();
    }

signals:
    void ticked(double now);
    void runningChanged();

private:
    // The time between two ticks at the pace now held (the ambient one when none is held).
    std::chrono::nanoseconds interval() const;
    QCoro::Task<void> run(CancellationToken token, ContinuousInstant first);
    void startOrStop(bool wasRunning);
    void rearm();
    void runPending();

    ContinuousClock *m_clock;
    QHash<QObject *, Pace> m_holders;
    QHash<QObject *, QMetaObject::Connection> m_watch;
    CancellationToken m_token;
    // The instant the last tick was due (or the clock started): the next is one interval on.
    ContinuousInstant m_lastDue;
    // A tick's pending calls and `ticked` handlers are running.
    bool m_ticking = false;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> m_pending;
};
