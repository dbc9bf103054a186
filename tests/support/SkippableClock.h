#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"

#include <QList>

#include <chrono>
#include <memory>
#include <utility>

// The machine's continuous clock plus a lead that a test adds to: everything that sleeps on it
// runs at the machine's pace, and skip() wakes at once whatever the skipped time made due. For
// tests of the whole application, where a manual clock would stop every tick and animation.
class SkippableClock final : public ContinuousClock
{
public:
    ContinuousInstant now() const override { return ContinuousClock::system()->now() + m_state->lead; }

    // Sleeps on the machine's clock until the deadline less the lead; a skip cuts that sleep
    // short (through a child of the caller's token) and it sleeps again for what is left.
    QCoro::Task<void> sleepUntil(ContinuousInstant deadline, CancellationToken token) override
    {
        // The state, not the clock: a sleeper cancelled after the clock is gone touches neither.
        const std::shared_ptr<State> state = m_state;
        while (ContinuousClock::system()->now() + state->lead < deadline) {
            token.throwIfCancelled();
            const CancellationToken wake = token.child();
            state->sleepers.append(wake);
            bool cancelled = false;
            try {
                co_await ContinuousClock::system()->sleepUntil(deadline - state->lead, wake);
            } catch (const CancelledError &) {
                cancelled = true;
            }
            // No longer listed: a skip took it, and it has now caught up.
            if (!state->sleepers.removeOne(wake))
                --state->waking;
            if (cancelled)
                token.throwIfCancelled();
        }
    }

    // Moves the clock on by `d`: every sleeper wakes, and sleeps again unless it is due.
    void skip(std::chrono::nanoseconds d)
    {
        m_state->lead += d;
        const QList<CancellationToken> sleepers = std::exchange(m_state->sleepers, {});
        m_state->waking += int(sleepers.size());
        for (const CancellationToken &wake : sleepers)
            wake.cancel();
    }

    // Whether every sleeper the skips woke has run on: what was due has done what it does (up to
    // its next wait), the rest sleep again.
    bool caughtUp() const { return m_state->waking == 0; }

private:
    struct State
    {
        std::chrono::nanoseconds lead{0};
        QList<CancellationToken> sleepers;
        int waking = 0;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};
