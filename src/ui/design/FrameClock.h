#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"
#include "ui/design/RenderProfile.h"

#include <QObject>
#include <QPointer>
#include <QHash>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <array>
#include <chrono>
#include <functional>

// The one source of frames for every ambient animation (particles, mesh, word rows, hue echoes,
// glows) and for the transitions paced by FrameTween (card looks, list scrolls), and only while
// some holder wants frames. With no holder there is no timer and no tick. A holder says its pace;
// how often each pace ticks depends on the render profile:
//
// - software (the default until the profile is known): each frame costs a whole window's pixels
//   whatever moved, so the rate is the window's cost. The clock ticks at the fastest pace held
//   and a slower pace steps on the first tick at or after its due instant, so its changes share
//   a frame with the faster ones and add none. Transitions are short and follow a line change:
//   30 ticks a second. A list's animated scroll moves its whole content by hundreds of pixels in
//   0.4 s: at 30 a second each frame would jump twice as far as a plain list's at the display's
//   rate, so it ticks at 60 (the other transitions under way still step at 30). The ambient
//   animations drift a few pixels a second (and the lit words step a word at a time), which 10 a
//   second shows as smoothly, also while a transition runs (their layers are not redrawn on every
//   transition frame).
// - hardware: frames are cheap. Transitions do not use the clock (FrameTween runs them at the
//   display's rate); each ambient pace ticks at its own cap, the mesh field 20 times a second and
//   the rest 30, and a tick steps only the holders whose pace is due (isDue).
//
// Intervals are rounded up so that a tick is never early. Driven by an injected ContinuousClock,
// so tests move time by hand. The application shell makes one and hands it down; there is no
// global instance.
class FrameClock : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application shell makes the frame clock and hands it down")
    Q_PROPERTY(bool running READ isRunning NOTIFY runningChanged)

public:
    // Mesh: the mesh field's drift; Ambient: every other ambient animation; Scroll: a list's
    // animated scroll.
    enum class Pace { Transition, Ambient, Mesh, Scroll };
    static constexpr int paceCount = 4;
    static constexpr std::chrono::nanoseconds interval(RenderProfile profile, Pace pace)
    {
        using std::chrono::nanoseconds;
        if (pace == Pace::Scroll)
            return nanoseconds(16'666'667);
        if (pace == Pace::Transition)
            return nanoseconds(33'333'334);
        if (profile == RenderProfile::Software)
            return nanoseconds(100'000'000);
        return pace == Pace::Mesh ? nanoseconds(50'000'000) : nanoseconds(33'333'334);
    }

    explicit FrameClock(ContinuousClock *clock, QObject *parent = nullptr);
    ~FrameClock() override;

    ContinuousClock *clock() const { return m_clock; }
    // Seconds on the clock; the time base of every animation the clock drives.
    Q_INVOKABLE double now() const { return m_clock->now().seconds(); }
    // The instant of the frame being made: in what a tick runs, the instant the tick was due
    // (it wakes a little late, and the work before may have taken a few milliseconds), otherwise
    // now. A transition started by a tick counts from the frame that shows its start, on the
    // same timeline as the ticks that step it.
    double frameTime() const { return m_ticking ? m_lastTick.seconds() : now(); }

    // A holder wants ticks at its pace until it releases them (or is destroyed). A second hold
    // by the same holder only changes its pace.
    void hold(QObject *holder, Pace pace = Pace::Transition);
    void release(QObject *holder);
    bool isRunning() const { return !m_holders.isEmpty(); }
    // In a `ticked` handler: whether this tick steps the holder (its pace is due).
    bool isDue(QObject *holder) const;

    // Connects `step` to the ticks that step `holder` (those it isDue on), in holder's context.
    QMetaObject::Connection connectSteps(QObject *holder, std::function<void(double now)> step)
    {
        return connect(this, &FrameClock::ticked, holder, [this, holder, step = std::move(step)](double now) {
            if (isDue(holder))
                step(now);
        });
    }

    RenderProfile renderProfile() const { return m_profile; }
    // Set once the window's first frame shows what draws it; ticks follow the new pace at once.
    void setRenderProfile(RenderProfile profile);
    // Whether transitions step on this clock (software) or at the display's rate (hardware).
    bool pacesTransitions() const { return m_profile == RenderProfile::Software; }

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
    void renderProfileChanged();

private:
    std::chrono::nanoseconds interval(Pace pace) const { return interval(m_profile, pace); }
    // When the next tick is due: the earliest pace held's next step.
    ContinuousInstant nextDue() const;
    bool isHeld(Pace pace) const;
    // Marks the paces this tick steps and moves their due instants on.
    void stepDuePaces(ContinuousInstant now, ContinuousInstant due);
    QCoro::Task<void> run(CancellationToken token, ContinuousInstant first);
    void startOrStop(bool wasRunning);
    void rearm();
    void runPending();

    ContinuousClock *m_clock;
    QHash<QObject *, Pace> m_holders;
    QHash<QObject *, QMetaObject::Connection> m_watch;
    CancellationToken m_token;
    RenderProfile m_profile = RenderProfile::Software;
    // Per pace: the instant its last step was due (or it started): its next is one interval on.
    std::array<ContinuousInstant, paceCount> m_lastDue;
    ContinuousInstant m_lastTick;
    // The paces the running tick steps (bits by Pace).
    unsigned m_stepping = 0;
    // A tick's pending calls and `ticked` handlers are running.
    bool m_ticking = false;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> m_pending;
};
