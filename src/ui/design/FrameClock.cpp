#include "ui/design/FrameClock.h"

#include <QPointer>

#include <algorithm>

#include <utility>

FrameClock::FrameClock(ContinuousClock *clock, QObject *parent)
    : QObject(parent), m_clock(clock)
{
    Q_ASSERT(m_clock);
    m_token.cancel(); // not running
}

FrameClock::~FrameClock()
{
    m_token.cancel();
    for (const auto &c : std::as_const(m_watch))
        disconnect(c);
}

void FrameClock::hold(QObject *holder, Pace pace)
{
    if (!holder)
        return;
    const auto held = m_holders.constFind(holder);
    if (held != m_holders.cend() && *held == pace)
        return;
    const bool wasRunning = isRunning();
    const auto before = interval();
    if (held == m_holders.cend())
        m_watch.insert(holder, connect(holder, &QObject::destroyed, this, [this, holder] { release(holder); }));
    m_holders.insert(holder, pace);
    startOrStop(wasRunning);
    if (wasRunning && interval() < before)
        rearm();
}

std::chrono::nanoseconds FrameClock::interval() const
{
    for (const Pace pace : m_holders) {
        if (pace == Pace::Transition)
            return transitionInterval;
    }
    return ambientInterval;
}

void FrameClock::release(QObject *holder)
{
    if (!m_holders.contains(holder))
        return;
    const bool wasRunning = isRunning();
    m_holders.remove(holder);
    disconnect(m_watch.take(holder));
    startOrStop(wasRunning);
}

void FrameClock::startOrStop(bool wasRunning)
{
    if (wasRunning == isRunning())
        return;
    if (isRunning()) {
        m_token = CancellationToken();
        m_ticking = false;
        m_lastDue = m_clock->now();
        run(m_token, m_lastDue + interval()); // runs until the token fires
    } else {
        m_token.cancel();
        runPending();
    }
    emit runningChanged();
}

// A faster pace takes effect at once: the tick already waited for may be up to a slow interval
// away, and a transition's first step should not wait for it.
void FrameClock::rearm()
{
    if (m_ticking)
        return; // the running tick reads the pace when it ends
    m_token.cancel();
    m_token = CancellationToken();
    run(m_token, std::max(m_clock->now(), m_lastDue + interval()));
}

void FrameClock::atNextTick(QObject *context, std::function<void()> call)
{
    if (!isRunning()) {
        call();
        return;
    }
    for (auto &pending : m_pending) {
        if (pending.first == context) {
            pending.second = std::move(call);
            return;
        }
    }
    m_pending.append({QPointer<QObject>(context), std::move(call)});
}

void FrameClock::runPending()
{
    const auto pending = std::exchange(m_pending, {});
    for (const auto &[context, call] : pending) {
        if (context)
            call();
    }
}

QCoro::Task<void> FrameClock::run(CancellationToken token, ContinuousInstant first)
{
    QPointer<FrameClock> self(this);
    ContinuousClock *clock = m_clock;
    ContinuousInstant next = first;
    while (true) {
        try {
            co_await clock->sleepUntil(next, token);
        } catch (const CancelledError &) {
            co_return;
        }
        if (!self || token.isCancelled())
            co_return;
        const ContinuousInstant now = clock->now();
        // A late wake starts a fresh interval rather than catching up in a burst.
        self->m_lastDue = next + self->interval() <= now ? now : next;
        // What runs in the tick may start a transition; the next tick then follows its pace.
        self->m_ticking = true;
        self->runPending();
        if (self && !token.isCancelled())
            emit self->ticked(now.seconds());
        if (!self || token.isCancelled())
            co_return;
        self->m_ticking = false;
        next = self->m_lastDue + self->interval();
    }
}
