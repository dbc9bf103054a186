#include "backend/BudgetClock.h"

QCoro::Task<void> ContinuousBudgetClock::sleep(std::chrono::nanoseconds duration, CancellationToken token)
{
    const ContinuousInstant deadline = m_clock->now() + duration;
    co_await m_clock->sleepUntil(deadline, token);
}
