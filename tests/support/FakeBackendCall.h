#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"

#include <QList>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <optional>
#include <stdexcept>

// One scripted answer of a faked backend call: a value or an error, after an optional delay
// (real time; the caller's token ends the wait with CancelledError).
template<class T>
struct FakeOutcome
{
    std::optional<T> value;
    std::exception_ptr error;
    std::chrono::milliseconds delay{0};

    static FakeOutcome success(T v, std::chrono::milliseconds delay = {}) { return {std::move(v), {}, delay}; }
    template<class E>
    static FakeOutcome failure(E e, std::chrono::milliseconds delay = {})
    {
        return {std::nullopt, std::make_exception_ptr(std::move(e)), delay};
    }
};

// Plays FakeOutcomes in order (the last one repeats) and counts calls and cancellations.
template<class T>
class FakeCallScript
{
public:
    QList<FakeOutcome<T>> outcomes;
    int calls = 0;
    int cancelled = 0;
    int finished = 0; // calls that have delivered their outcome (value or error)
    // A backend that does not notice cancellation: its delay runs out and its outcome arrives.
    bool ignoresCancellation = false;

    QCoro::Task<T> play(CancellationToken token)
    {
        if (outcomes.isEmpty())
            throw std::logic_error("no scripted outcome");
        const FakeOutcome<T> outcome = outcomes.at(std::min<qsizetype>(calls, outcomes.size() - 1));
        ++calls;
        if (outcome.delay.count() > 0) {
            try {
                const std::chrono::nanoseconds delay = outcome.delay;
                const CancellationToken wait = ignoresCancellation ? CancellationToken() : token;
                co_await ContinuousClock::system()->sleepFor(delay, wait);
            } catch (const CancelledError &) {
                ++cancelled;
                throw;
            }
        }
        ++finished;
        if (outcome.error)
            std::rethrow_exception(outcome.error);
        co_return *outcome.value;
    }
};
