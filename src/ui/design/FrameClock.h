#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>

// The one source of frames for every ambient animation (particles, mesh, word rows, hue echoes,
// glows) and for the transitions paced by FrameTween (card looks, list scrolls): 15 ticks a
// second, and only while some holder wants frames. With no holder there is no timer and no
// tick. Every animation steps on the same ticks, so one frame shows all their changes. On a
// software renderer each frame costs a whole window's pixels whatever moved, so the rate is
// the window's cost: 15 a second stays within every animation's cap (20 for the mesh field,
// 30 for the rest) and still reads as motion. The interval is rounded up so that a tick is
// never early. Driven by an injected ContinuousClock, so tests move time by hand. The
// application shell makes one and hands it down; there is no global instance.
class FrameClock : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application shell makes the frame clock and hands it down")
    Q_PROPERTY(bool running READ isRunning NOTIFY runningChanged)

public:
    static constexpr std::chrono::nanoseconds interval{66'666'667};

    explicit FrameClock(ContinuousClock *clock, QObject *parent = nullptr);
    ~FrameClock() override;

    ContinuousClock *clock() const { return m_clock; }
    // Seconds on the clock; the time base of every animation the clock drives.
    Q_INVOKABLE double now() const { return m_clock->now().seconds(); }

    // A holder wants ticks until it releases them (or is destroyed). Idempotent per holder.
    void hold(QObject *holder);
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
    QCoro::Task<void> run(CancellationToken token);
    void startOrStop(bool wasRunning);
    void runPending();

    ContinuousClock *m_clock;
    QSet<QObject *> m_holders;
    QHash<QObject *, QMetaObject::Connection> m_watch;
    CancellationToken m_token;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> m_pending;
};
