#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QList>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <map>
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
    // A backend that does not notice cancellation: its wait runs out and its outcome arrives.
    bool ignoresCancellation = false;
    // When set, every call waits until the test cancels this token (opens the gate), then plays
    // its outcome: for an answer that must come after something the test has seen. The caller's
    // token ends the wait as it ends a delay.
    std::optional<CancellationToken> heldUntil;

    // Holds the calls from now on behind a new gate, which it returns.
    CancellationToken hold() { return *(heldUntil = CancellationToken()); }

    QCoro::Task<T> play(CancellationToken token)
    {
        if (outcomes.isEmpty())
            throw std::logic_error("no scripted outcome");
        const FakeOutcome<T> outcome = outcomes.at(std::min<qsizetype>(calls, outcomes.size() - 1));
        ++calls;
        try {
            const CancellationToken wait = ignoresCancellation ? CancellationToken() : token;
            if (heldUntil)
                co_await opened(*heldUntil, wait);
            if (outcome.delay.count() > 0)
                co_await ContinuousClock::system()->sleepFor(std::chrono::nanoseconds(outcome.delay), wait);
        } catch (const CancelledError &) {
            ++cancelled;
            throw;
        }
        ++finished;
        if (outcome.error)
            std::rethrow_exception(outcome.error);
        co_return *outcome.value;
    }

private:
    // Ends when `gate` is opened, or with CancelledError when `wait` fires first.
    static QCoro::Task<void> opened(CancellationToken gate, CancellationToken wait)
    {
        const CancellationToken either;
        for (const CancellationToken &t : {gate, wait})
            t.onCancelled(QCoreApplication::instance(), [either] { either.cancel(); });
        try {
            co_await ContinuousClock::system()->sleepFor(std::chrono::hours(1), either);
        } catch (const CancelledError &) {
        }
        wait.throwIfCancelled();
    }
};

// FakeCallScripts by what each request names (a song's title or key): a key plays its own
// outcomes in order, so the calls of two songs never take each other's answers, however they
// interleave. A key without a script of its own plays `any`. A map, not a hash: a script stays
// where it is while a call plays it and other keys are added.
template<class T>
class KeyedFakeScripts
{
public:
    FakeCallScript<T> any;
    std::map<QString, FakeCallScript<T>> byKey;
    QStringList asked; // the key of every call, in call order

    FakeCallScript<T> &operator[](const QString &key) { return byKey[key]; }
    int calls() const { return int(asked.size()); }

    QCoro::Task<T> play(const QString &key, CancellationToken token)
    {
        asked.append(key);
        const auto own = byKey.find(key);
        return (own != byKey.end() ? own->second : any).play(std::move(token));
    }

    // The calls received, for a failing test's output: "A, B (A: 1 finished, 0 cancelled; …)".
    QString received() const
    {
        QStringList scripts;
        const auto note = [&scripts](const QString &name, const FakeCallScript<T> &script) {
            if (script.calls > 0)
                scripts << QStringLiteral("%1: %2 finished, %3 cancelled").arg(name).arg(script.finished).arg(script.cancelled);
        };
        for (const auto &[key, script] : byKey)
            note(key, script);
        note(QStringLiteral("any other"), any);
        return QStringLiteral("%1 (%2)").arg(asked.isEmpty() ? QStringLiteral("none") : asked.join(u", "),
                                             scripts.join(u"; "));
    }
};
