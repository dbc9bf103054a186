#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"

#include <qcoro/qcorotask.h>

#include <chrono>

// Measures the overall budget of a long request.
class BudgetClock
{
public:
    virtual ~BudgetClock() = default;
    // Ends once `duration` has passed on the clock, or with CancelledError when `token` fires first.
    virtual QCoro::Task<void> sleep(std::chrono::nanoseconds duration, CancellationToken token) = 0;
};

// A budget on the continuous monotonic clock, which keeps counting while the machine sleeps:
// a laptop suspended mid-request does not stretch the budget.
class ContinuousBudgetClock final : public BudgetClock
{
public:
    // The clock is not owned; it must outlive this object (the system clock always does).
    explicit ContinuousBudgetClock(ContinuousClock *clock = ContinuousClock::system())
        : m_clock(clock)
    {
    }

    QCoro::Task<void> sleep(std::chrono::nanoseconds duration, CancellationToken token) override;

private:
    ContinuousClock *m_clock;
};
