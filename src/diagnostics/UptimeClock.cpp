#include "diagnostics/UptimeClock.h"

#include <time.h>

ContinuousInstant SystemUptimeClock::now() const
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return {qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec};
}

QCoro::Task<void> SystemUptimeClock::sleepUntil(ContinuousInstant deadline, CancellationToken token)
{
    // Qt's timers run on CLOCK_MONOTONIC too, so a relative sleep lands on the same instant.
    return ContinuousClock::system()->sleepFor(deadline - now(), std::move(token));
}

SystemUptimeClock *SystemUptimeClock::instance()
{
    static SystemUptimeClock clock;
    return &clock;
}
