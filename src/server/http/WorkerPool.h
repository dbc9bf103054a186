#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace server::http {

// The threads that run route handlers (which may block on the database, a password hash or an
// outgoing call), so that the I/O threads never do. Bounded both ways: `threads` run at once and
// at most `queueLimit` more wait; past that a task is refused at once rather than queued without
// end, and the caller answers 503.
class WorkerPool
{
public:
    WorkerPool(std::size_t threads, std::size_t queueLimit);
    // Finishes the tasks already taken and drops those still waiting.
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // Queues the task; false (the task dropped) when every thread is busy and the queue is full.
    bool trySubmit(std::function<void()> task);

private:
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_queue;
    std::size_t m_idle = 0;
    std::size_t m_queueLimit;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace server::http
