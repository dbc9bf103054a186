#pragma once

#include "platform/Async.h"
#include "platform/Clock.h"

#include <chrono>
#include <cmath>
#include <functional>

namespace detail {

// The sleeping side of withTimeout: when it wakes, the limit has passed, and it ends the race
// with CancelledError. Cancelled itself (the operation won), it ends with CancelledError too,
// which the race then ignores.
template<class T>
QCoro::Task<T> sleepThenCancel(ContinuousClock *clock, std::chrono::nanoseconds limit, CancellationToken token)
{
    co_await clock->sleepFor(limit, token);
    throw CancelledError();
}

// Seconds as a sleep length. NaN and negative limits are spent at once; very long (or
// infinite) ones are capped far in the future instead of overflowing the clock's arithmetic.
inline std::chrono::nanoseconds timeLimitFromSeconds(double seconds)
{
    constexpr double maxSeconds = 100.0 * 365 * 24 * 3600;
    if (!(seconds > 0.0))
        return std::chrono::nanoseconds(0);
    return std::chrono::nanoseconds(qint64(std::min(seconds, maxSeconds) * 1e9));
}

} // namespace detail

// Runs `operation` against a time limit. Whichever ends first decides: the operation's value
// is returned or its error rethrown; when the limit passes first, the operation's token is
// cancelled and CancelledError is thrown.
template<class T>
QCoro::Task<T> withTimeout(double seconds, std::function<QCoro::Task<T>(CancellationToken)> operation,
                           ContinuousClock *clock = ContinuousClock::system(), CancellationToken outer = {})
{
    const std::chrono::nanoseconds limit = detail::timeLimitFromSeconds(seconds);
    std::function<QCoro::Task<T>(CancellationToken)> timer = [clock, limit](CancellationToken token) {
        return detail::sleepThenCancel<T>(clock, limit, std::move(token));
    };
    QCoro::Task<T> task = race<T>(std::move(operation), std::move(timer), std::move(outer));
    co_return co_await std::move(task);
}
