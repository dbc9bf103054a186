#pragma once

#include "platform/Clock.h"

#include <QLoggingCategory>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

// Every logging category of the program. Names are "com.cantorella.<Category>".
// Debug lines are off by default; QT_LOGGING_RULES="com.cantorella.*.debug=true" turns them on.
//
// Levels: debug → qCDebug, info and notice → qCInfo, error → qCWarning, fault → qCCritical.
namespace AppLog {
inline constexpr const char *subsystem = "com.cantorella";
}

Q_DECLARE_LOGGING_CATEGORY(lcNowPlaying)
Q_DECLARE_LOGGING_CATEGORY(lcSession)
Q_DECLARE_LOGGING_CATEGORY(lcLyrics)
Q_DECLARE_LOGGING_CATEGORY(lcCards)
Q_DECLARE_LOGGING_CATEGORY(lcPersistence)
Q_DECLARE_LOGGING_CATEGORY(lcUi)
Q_DECLARE_LOGGING_CATEGORY(lcDiagnostics)
Q_DECLARE_LOGGING_CATEGORY(lcWatchdog)
// Signposts: begin/end lines of timed intervals and point events.
Q_DECLARE_LOGGING_CATEGORY(lcPointsOfInterest)
// Categories some components log under on their own.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcAuth)
Q_DECLARE_LOGGING_CATEGORY(lcPlayerViewModel)
Q_DECLARE_LOGGING_CATEGORY(lcLyricsSync)

namespace AppLog {

// Signposts are debug lines in lcPointsOfInterest:
//   "begin <name> id=<n>", "end <name> id=<n>" around an interval, "event <name>" for a point.
// Every interval gets a fresh id (process-wide counter), so overlapping intervals of one name
// can be told apart.
using SignpostId = quint64;
SignpostId makeSignpostId();
void signpostBegin(const char *name, SignpostId id);
void signpostEnd(const char *name, SignpostId id);
void signpostEvent(const char *name);

// Milliseconds from `start` to the clock's present.
double elapsedMilliseconds(ContinuousInstant start, const ContinuousClock *clock = ContinuousClock::system());

// The text a failure log shows for an error: what() of a std::exception (UTF-8), or a fixed
// text for anything else.
QString errorText(const std::exception &error);
QString errorText(const std::exception_ptr &error);

namespace detail {
void logStepSucceeded(const char *name, const QLoggingCategory &logger, ContinuousInstant start,
                      const ContinuousClock *clock);
void logStepFailed(const char *name, const QLoggingCategory &logger, ContinuousInstant start,
                   const ContinuousClock *clock, const std::exception_ptr &error);

template<class T>
QCoro::Task<T> timedStep(const char *name, const QLoggingCategory *logger, std::function<QCoro::Task<T>()> operation,
                         const ContinuousClock *clock)
{
    const SignpostId id = makeSignpostId();
    signpostBegin(name, id);
    const ContinuousInstant start = clock->now();
    std::exception_ptr failure;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    try {
        QCoro::Task<T> task = operation();
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            result = true;
        } else {
            result.emplace(co_await std::move(task));
        }
    } catch (...) {
        failure = std::current_exception();
    }
    signpostEnd(name, id);
    if (failure) {
        logStepFailed(name, *logger, start, clock, failure);
        std::rethrow_exception(failure);
    }
    logStepSucceeded(name, *logger, start, clock);
    if constexpr (!std::is_void_v<T>)
        co_return std::move(*result);
}
} // namespace detail

// Runs `operation` once as a timed step named `name` (a string literal: it also names the
// signpost interval). On success logs "<name> ok in <ms> ms" at debug level through `logger`;
// on failure "<name> failed in <ms> ms: <error text>" at warning level, then rethrows the very
// same exception. Milliseconds are truncated toward zero. The step adds no retry, time limit
// or cancellation check: a CancelledError is logged and rethrown like any other error.
//
// `operation` is called after the begin signpost and the start time are taken; it returns the
// task to await (for example a lambda calling a member coroutine). It is kept until the step
// ends, so whatever it captures by reference must outlive the step.
template<class F>
auto timed(const char *name, const QLoggingCategory &logger, F operation,
           const ContinuousClock *clock = ContinuousClock::system()) -> std::invoke_result_t<F>
{
    using Task = std::invoke_result_t<F>;
    using T = typename Task::value_type;
    return detail::timedStep<T>(name, &logger, std::function<Task()>(std::move(operation)), clock);
}

} // namespace AppLog
