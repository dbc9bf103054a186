#include "UserScrollGuard.h"

#include <cmath>

UserScrollGuard::UserScrollGuard(ContinuousClock *clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock ? clock : ContinuousClock::system())
{
}

UserScrollGuard::~UserScrollGuard()
{
    m_lifetime.cancel();
}

void UserScrollGuard::raiseProgrammaticFlag(std::function<void()> onReset)
{
    m_isProgrammaticScroll = true;
    ++m_raiseCount;
    lowerFlagLater(QPointer<UserScrollGuard>(this), m_clock, m_lifetime, m_raiseCount, std::move(onReset));
}

void UserScrollGuard::restartGuardTime()
{
    m_guardStart = m_clock->now();
}

double UserScrollGuard::deltaTo(double offset) const
{
    return std::abs(offset - m_lastOffset);
}

bool UserScrollGuard::handleOffsetChange(double offset)
{
    const double delta = deltaTo(offset);
    const bool programmatic = m_isProgrammaticScroll;
    const bool guarded = m_guardStart && m_clock->now() - *m_guardStart < guardTime;
    m_lastOffset = offset;
    if (programmatic || guarded || !(delta > userScrollThreshold))
        return false;
    pauseTracking();
    return true;
}

void UserScrollGuard::setHeld(bool held)
{
    if (m_isHeld == held)
        return;
    m_isHeld = held;
    // A hold that ends on a list that follows already (resumeTracking() meanwhile) changes nothing.
    if (held || !m_isTracking)
        pauseTracking();
}

void UserScrollGuard::pauseTracking()
{
    if (m_resumeTask)
        m_resumeTask->cancel();
    m_resumeTask.reset();
    setTracking(false);
    if (m_isHeld)
        return;
    CancellationToken token = m_lifetime.child();
    m_resumeTask = token;
    resumeLater(QPointer<UserScrollGuard>(this), m_clock, token);
}

void UserScrollGuard::resumeTracking()
{
    if (m_resumeTask)
        m_resumeTask->cancel();
    setTracking(true);
}

void UserScrollGuard::setTracking(bool tracking)
{
    if (m_isTracking == tracking)
        return;
    m_isTracking = tracking;
    emit trackingChanged(tracking);
}

QCoro::Task<void> UserScrollGuard::lowerFlagLater(QPointer<UserScrollGuard> guard, ContinuousClock *clock,
                                                  CancellationToken token, quint64 raise,
                                                  std::function<void()> onReset)
{
    const std::chrono::nanoseconds delay = flagResetDelay;
    try {
        co_await clock->sleepFor(delay, token);
    } catch (const CancelledError &) {
        co_return;
    }
    if (!guard)
        co_return;
    if (onReset)
        onReset();
    if (guard && guard->m_raiseCount == raise)
        guard->m_isProgrammaticScroll = false;
}

QCoro::Task<void> UserScrollGuard::resumeLater(QPointer<UserScrollGuard> guard, ContinuousClock *clock,
                                               CancellationToken token)
{
    const std::chrono::nanoseconds delay = resumeDelay;
    try {
        co_await clock->sleepFor(delay, token);
    } catch (const CancelledError &) {
        co_return;
    }
    if (token.isCancelled() || !guard)
        co_return;
    guard->setTracking(true);
}
