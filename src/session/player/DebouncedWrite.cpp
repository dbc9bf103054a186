#include "session/player/DebouncedWrite.h"

DebouncedWrite::DebouncedWrite(ContinuousClock *clock, std::chrono::nanoseconds quietPeriod)
    : m_clock(clock)
    , m_quietPeriod(quietPeriod)
{
}

DebouncedWrite::~DebouncedWrite()
{
    cancel();
}

void DebouncedWrite::schedule(Write write)
{
    cancel();
    m_pending = std::make_shared<Pending>(Pending{CancellationToken(), std::move(write)});
    writeAfter(m_clock, m_quietPeriod, m_pending);
}

void DebouncedWrite::cancel()
{
    if (m_pending) {
        m_pending->token.cancel();
        m_pending.reset();
    }
}

void DebouncedWrite::flush()
{
    const std::shared_ptr<Pending> pending = std::exchange(m_pending, nullptr);
    // A cancelled token marks a write that already ran.
    if (!pending || pending->token.isCancelled())
        return;
    pending->token.cancel();
    pending->write();
}

QCoro::Task<void> DebouncedWrite::writeAfter(ContinuousClock *clock, std::chrono::nanoseconds delay,
                                             std::shared_ptr<Pending> pending)
{
    try {
        co_await clock->sleepFor(delay, pending->token);
    } catch (const CancelledError &) {
    }
    // Only the last change of a burst gets here uncancelled; the write may replace `pending`.
    if (pending->token.isCancelled())
        co_return;
    pending->token.cancel();
    pending->write();
}
