#pragma once

// Structured-concurrency helpers on top of QCoro 0.8, which has no task cancellation:
// work that can be abandoned takes a CancellationToken and ends with CancelledError.

#include "platform/AsyncSignal.h"
#include "platform/Cancellation.h"

#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

// Holds either a value (or nothing, for void) or the exception that ended a computation.
template<class T>
struct AsyncOutcome
{
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::exception_ptr error;
    bool done() const { return value.has_value() || error; }

    T take()
    {
        if (error)
            std::rethrow_exception(error);
        if constexpr (!std::is_void_v<T>)
            return std::move(*value);
    }
};

namespace detail {

template<class T>
QCoro::Task<void> captureOutcome(QCoro::Task<T> task, std::shared_ptr<AsyncOutcome<T>> out)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            out->value = true;
        } else {
            out->value.emplace(co_await std::move(task));
        }
    } catch (...) {
        out->error = std::current_exception();
    }
}

// Awaits `signal` unless `ready()` already holds, or until `token` fires. Returns false when
// the wait ended by cancellation.
QCoro::Task<bool> waitUntil(AsyncSignal *signal, std::function<bool()> ready, CancellationToken token);

struct RaceState
{
    bool decided = false;
    AsyncSignal finished;
};

template<class T>
QCoro::Task<void> raceChild(QCoro::Task<T> task, std::shared_ptr<RaceState> state,
                            std::shared_ptr<AsyncOutcome<T>> out, CancellationToken loser)
{
    auto mine = std::make_shared<AsyncOutcome<T>>();
    co_await captureOutcome<T>(std::move(task), mine);
    if (state->decided)
        co_return;
    state->decided = true;
    *out = std::move(*mine);
    loser.cancel();
    state->finished.fire();
}

} // namespace detail

// Runs a and b side by side. The first to finish decides — its value is returned or its
// exception rethrown — and the other's token is cancelled. Cancelling `outer` cancels both.
template<class T>
QCoro::Task<T> race(std::function<QCoro::Task<T>(CancellationToken)> a,
                    std::function<QCoro::Task<T>(CancellationToken)> b, CancellationToken outer = {})
{
    auto state = std::make_shared<detail::RaceState>();
    auto out = std::make_shared<AsyncOutcome<T>>();
    CancellationToken tokenA = outer.child();
    CancellationToken tokenB = outer.child();
    // Tasks are eager: each child runs until its first suspension here.
    detail::raceChild<T>(a(tokenA), state, out, tokenB);
    if (!state->decided)
        detail::raceChild<T>(b(tokenB), state, out, tokenA);
    if (!state->decided)
        co_await qCoro(&state->finished, &AsyncSignal::fired);
    co_return out->take();
}

// One piece of work whose single result many callers await. Copies share the work.
template<class T>
class SharedTask
{
public:
    SharedTask() = default;
    explicit SharedTask(std::function<QCoro::Task<T>(CancellationToken)> body)
        : m_state(std::make_shared<State>())
    {
        start(m_state, body(m_state->token));
    }

    bool isValid() const { return bool(m_state); }
    bool isDone() const { return m_state && m_state->outcome.done(); }
    void cancel() const
    {
        if (m_state)
            m_state->token.cancel();
    }

    // Every waiter gets the one value, or the same exception. A waiter whose token fires stops
    // waiting with CancelledError; the work itself goes on.
    QCoro::Task<T> wait(CancellationToken waiter = {}) const
    {
        return waitOn(m_state, std::move(waiter));
    }

private:
    struct State
    {
        CancellationToken token;
        AsyncOutcome<T> outcome;
        AsyncSignal finished;
    };

    static QCoro::Task<void> start(std::shared_ptr<State> state, QCoro::Task<T> task)
    {
        auto out = std::make_shared<AsyncOutcome<T>>();
        co_await detail::captureOutcome<T>(std::move(task), out);
        state->outcome = std::move(*out);
        state->finished.fire();
    }

    static QCoro::Task<T> waitOn(std::shared_ptr<State> state, CancellationToken waiter)
    {
        // Named, not a temporary inside the co_await: GCC 12 destroys such temporaries twice.
        std::function<bool()> ready = [state] { return state->outcome.done(); };
        const bool finished = co_await detail::waitUntil(&state->finished, ready, waiter);
        if (!finished)
            throw CancelledError();
        if (state->outcome.error)
            std::rethrow_exception(state->outcome.error);
        if constexpr (!std::is_void_v<T>) {
            // Through a const reference: QCoro 0.8's return_value(U&&) moves from a non-const
            // lvalue, which would empty the shared value for every later waiter.
            const T &value = *state->outcome.value;
            co_return value;
        }
    }

    std::shared_ptr<State> m_state;
};

// An unbounded queue with one consumer; stands in for an async stream of values.
template<class T>
class Channel
{
public:
    Channel() : m_state(std::make_shared<State>()) {}

    void send(T value) const
    {
        if (m_state->finished)
            return;
        m_state->queue.push_back(std::move(value));
        m_state->signal.fire();
    }
    void finish() const
    {
        m_state->finished = true;
        m_state->signal.fire();
    }
    bool isFinished() const { return m_state->finished; }
    qsizetype pending() const { return qsizetype(m_state->queue.size()); }

    // The next value; nullopt once finished and drained; CancelledError when the token fires.
    QCoro::Task<std::optional<T>> receive(CancellationToken token = {}) const
    {
        return receiveFrom(m_state, std::move(token));
    }

private:
    struct State
    {
        std::deque<T> queue;
        bool finished = false;
        AsyncSignal signal;
    };

    static QCoro::Task<std::optional<T>> receiveFrom(std::shared_ptr<State> state, CancellationToken token)
    {
        token.throwIfCancelled();
        // Named, not a temporary inside the co_await: GCC 12 destroys such temporaries twice.
        std::function<bool()> hasValue = [state] { return !state->queue.empty() || state->finished; };
        const bool ready = co_await detail::waitUntil(&state->signal, hasValue, token);
        if (!ready)
            throw CancelledError();
        if (state->queue.empty())
            co_return std::nullopt;
        std::optional<T> result(std::move(state->queue.front()));
        state->queue.pop_front();
        co_return result;
    }

    std::shared_ptr<State> m_state;
};

// One worker thread that runs jobs one at a time, in order. Results — or the job's original
// exception — come back on the awaiting coroutine's thread.
class SerialExecutor
{
public:
    explicit SerialExecutor(const QString &threadName);
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor &) = delete;
    SerialExecutor &operator=(const SerialExecutor &) = delete;

    QThread *thread() const { return m_thread; }

    template<class F>
    QCoro::Task<std::invoke_result_t<F>> run(F f)
    {
        using R = std::invoke_result_t<F>;
        auto out = std::make_shared<AsyncOutcome<R>>();
        auto notifier = std::make_shared<AsyncSignal>();
        QPointer<AsyncSignal> back = notifier.get();
        post([f = std::move(f), out, back]() mutable {
            try {
                if constexpr (std::is_void_v<R>) {
                    f();
                    out->value = true;
                } else {
                    out->value.emplace(f());
                }
            } catch (...) {
                out->error = std::current_exception();
            }
            // Deliver on the awaiting thread; the notifier's affinity is that thread.
            QMetaObject::invokeMethod(back, [back] {
                if (back)
                    back->fire();
            }, Qt::QueuedConnection);
        });
        return awaitOutcome<R>(out, notifier);
    }

    // For the rare caller that must block (start-up, tests). Never call from the worker itself.
    template<class F>
    std::invoke_result_t<F> runBlocking(F f)
    {
        using R = std::invoke_result_t<F>;
        AsyncOutcome<R> out;
        postBlocking([&] {
            try {
                if constexpr (std::is_void_v<R>) {
                    f();
                    out.value = true;
                } else {
                    out.value.emplace(f());
                }
            } catch (...) {
                out.error = std::current_exception();
            }
        });
        return out.take();
    }

private:
    template<class R>
    static QCoro::Task<R> awaitOutcome(std::shared_ptr<AsyncOutcome<R>> out, std::shared_ptr<AsyncSignal> notifier)
    {
        co_await qCoro(notifier.get(), &AsyncSignal::fired);
        co_return out->take();
    }

    void post(std::function<void()> job);
    void postBlocking(std::function<void()> job);

    QThread *m_thread = nullptr;
    QObject *m_worker = nullptr;
};
