#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>

// One value written after a quiet period: each schedule() replaces the pending write and starts
// the period again, so a burst of changes ends in one write, the last. flush() runs the pending
// write at once (an owner going away still stores the last value); cancel() drops it. Going out
// of scope drops it too, so a write never runs after its owner is gone. GUI thread only.
class DebouncedWrite
{
public:
    using Write = std::function<void()>;

    DebouncedWrite(ContinuousClock *clock, std::chrono::nanoseconds quietPeriod);
    ~DebouncedWrite();
    DebouncedWrite(const DebouncedWrite &) = delete;
    DebouncedWrite &operator=(const DebouncedWrite &) = delete;

    void schedule(Write write);
    void cancel();
    void flush();

private:
    struct Pending
    {
        CancellationToken token;
        Write write;
    };
    static QCoro::Task<void> writeAfter(ContinuousClock *clock, std::chrono::nanoseconds delay,
                                        std::shared_ptr<Pending> pending);

    ContinuousClock *m_clock;
    std::chrono::nanoseconds m_quietPeriod;
    std::shared_ptr<Pending> m_pending;
};
