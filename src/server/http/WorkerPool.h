#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace server::http {

// The threads that run route handlers (which may block on the database, a password hash or an
// outgoing call), so that the I/O threads never do. Bounded both ways: `threads` run at once and
// at most `queueLimit` more wait; past that a task is refused at once rather than queued without
// end, and the caller answers 503.
//
// A task goes to the thread that became idle last: the few threads a moderate load needs stay
// warm and the rest stay asleep, so that what each thread keeps (its database connection and
// that connection's cache) is kept by few of them.
//
// When a task is refused the pool says so in the log ("workers: all N busy and M requests
// waiting; more are answered 503"), at most once in `fullNoticeInterval`: a flood of refusals
// costs one line, and the line never waits for the log to be written.
class WorkerPool
{
public:
    static constexpr std::chrono::seconds fullNoticeInterval{10};

    WorkerPool(std::size_t threads, std::size_t queueLimit);
    // Finishes the tasks already taken and drops those still waiting.
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // Hands the task to an idle thread or queues it; false (the task dropped) when every thread
    // is busy and the queue is full.
    bool trySubmit(std::function<void()> task);

private:
    struct Worker
    {
        std::condition_variable wake;
        std::function<void()> task; // handed over while the worker is idle
    };

    void run(Worker &worker);
    // Under the lock: whether this refusal is the one to log.
    bool fullNoticeDue();

    std::mutex m_mutex;
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::vector<Worker *> m_idle; // the last one became idle last
    std::deque<std::function<void()>> m_queue;
    std::size_t m_queueLimit;
    bool m_stopping = false;
    std::optional<std::chrono::steady_clock::time_point> m_lastFullNotice;
    std::vector<std::thread> m_threads;
};

} // namespace server::http
