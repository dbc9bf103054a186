#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"

#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <optional>

// Tells a self-scrolling list's own scrolls from the user's, and decides when it follows
// playback ("tracking").
//
// - The list raises the programmatic flag for every scroll it starts (and for a viewport-height
//   change); each raise is lowered 0.5 s later by its own reset, but only when nothing raised the
//   flag since — so a second scroll started within 0.5 s of the first keeps the flag up until its
//   own reset, and its movement is never mistaken for the user's.
// - The guard time is restarted by the list at moments after which offsets move by themselves
//   (viewport-height or song-session change, or a scroll the list starts): offset changes within
//   0.5 s of it are never user scrolls.
// - An offset change of more than 1.0 point, with the flag down and the guard time passed, is a
//   user scroll: tracking stops, and resumes 3 s after the last user scroll (or at once through
//   resumeTracking()).
// - While the user holds the list (the keyboard focus is on a control inside it), tracking stops
//   as for a user scroll and does not resume: the 3 s resume starts when the hold ends, so the
//   list never scrolls a focused control away on its own.
//
// All waits run on the injected continuous clock. GUI thread only.
class UserScrollGuard : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds flagResetDelay{500};
    static constexpr std::chrono::milliseconds guardTime{500};
    static constexpr double userScrollThreshold = 1.0;
    static constexpr std::chrono::milliseconds resumeDelay{3000};

    explicit UserScrollGuard(ContinuousClock *clock = ContinuousClock::system(), QObject *parent = nullptr);
    ~UserScrollGuard() override;

    void setClock(ContinuousClock *clock) { m_clock = clock ? clock : ContinuousClock::system(); }
    ContinuousClock *clock() const { return m_clock; }

    bool isTracking() const { return m_isTracking; }
    bool isProgrammaticScroll() const { return m_isProgrammaticScroll; }
    double lastOffset() const { return m_lastOffset; }

    // Raises the flag; 0.5 s later `onReset` runs (for the caller's trace) and the flag drops
    // unless it was raised again meanwhile.
    void raiseProgrammaticFlag(std::function<void()> onReset = {});
    // Offset changes within guardTime from now are not user scrolls.
    void restartGuardTime();

    // Records the new content offset. Returns true when the change was a user scroll (tracking
    // then stops and the 3 s resume restarts).
    bool handleOffsetChange(double offset);
    // |offset − last offset|, before handleOffsetChange stores it (for traces).
    double deltaTo(double offset) const;

    // Tracking at once; a pending resume is dropped.
    void resumeTracking();

    // Starts or ends the user's hold on the list.
    void setHeld(bool held);
    bool isHeld() const { return m_isHeld; }

signals:
    // Emitted after isTracking() changed.
    void trackingChanged(bool isTracking);

private:
    void setTracking(bool tracking);
    // Tracking stops; it resumes resumeDelay after the last user action unless the list is held.
    void pauseTracking();
    static QCoro::Task<void> lowerFlagLater(QPointer<UserScrollGuard> guard, ContinuousClock *clock,
                                            CancellationToken token, quint64 raise, std::function<void()> onReset);
    static QCoro::Task<void> resumeLater(QPointer<UserScrollGuard> guard, ContinuousClock *clock,
                                         CancellationToken token);

    ContinuousClock *m_clock;
    bool m_isTracking = true;
    bool m_isProgrammaticScroll = false;
    bool m_isHeld = false;
    quint64 m_raiseCount = 0;
    std::optional<ContinuousInstant> m_guardStart;
    double m_lastOffset = 0.0;
    std::optional<CancellationToken> m_resumeTask;
    // Fires in the destructor: pending resets and resumes end without touching the guard.
    CancellationToken m_lifetime;
};
