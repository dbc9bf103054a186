#include "ui/design/FrameClock.h"

#include <QPointer>

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

void FrameClock::hold(QObject *holder)
{
    if (!holder || m_holders.contains(holder))
        return;
    const bool wasRunning = isRunning();
    m_holders.insert(holder);
    m_watch.insert(holder, connect(holder, &QObject::destroyed, this, [this, holder] { release(holder); }));
    startOrStop(wasRunning);
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
        run(m_token); // runs until the token fires
    } else {
        m_token.cancel();
        runPending();
    }
    emit runningChanged();
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

QCoro::Task<void> FrameClock::run(CancellationToken token)
{
    QPointer<FrameClock> self(this);
    ContinuousClock *clock = m_clock;
    ContinuousInstant next = clock->now() + interval;
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
        next = next + interval;
        if (next <= now)
            next = now + interval;
        self->runPending();
        if (!self || token.isCancelled())
            co_return;
        emit self->ticked(now.seconds());
    }
}
