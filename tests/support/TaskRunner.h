#pragma once

#include "platform/Async.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>
#include <stdexcept>

// Runs coroutines from synchronous test code. Unlike QCoro::waitFor, an exception thrown by
// the task reaches the caller, and a task that never finishes fails after a bound instead of
// hanging the test.
namespace TaskRunner {

// Told of every exception before it leaves run() (the test programs' TestEscape notes where it
// came from; tools that use this header leave it empty).
inline void (*noteException)() = nullptr;

class NotFinished : public std::runtime_error
{
public:
    NotFinished() : std::runtime_error("the task did not finish in time") {}
};

// Starts the task (it runs until its first suspension) and returns where its outcome will land.
template<class T>
std::shared_ptr<AsyncOutcome<T>> start(QCoro::Task<T> task)
{
    auto outcome = std::make_shared<AsyncOutcome<T>>();
    detail::captureOutcome<T>(std::move(task), outcome);
    return outcome;
}

// Spins the event loop until the outcome is in; false when `bound` passed first.
template<class T>
bool waitUntilDone(const std::shared_ptr<AsyncOutcome<T>> &outcome,
                   std::chrono::milliseconds bound = std::chrono::seconds(30))
{
    QDeadlineTimer deadline(bound);
    QTimer tick; // wakes the wait below even when nothing else happens
    tick.start(10);
    while (!outcome->done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return outcome->done();
}

// The task's value, or its exception rethrown; NotFinished after `bound`.
template<class T>
T run(QCoro::Task<T> task, std::chrono::milliseconds bound = std::chrono::seconds(30))
{
    auto outcome = start<T>(std::move(task));
    try {
        if (!waitUntilDone<T>(outcome, bound))
            throw NotFinished();
        return outcome->take();
    } catch (...) {
        if (noteException)
            noteException();
        throw;
    }
}

} // namespace TaskRunner
