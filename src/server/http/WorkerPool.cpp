#include "server/http/WorkerPool.h"

namespace server::http {

WorkerPool::WorkerPool(std::size_t threads, std::size_t queueLimit)
    : m_queueLimit(queueLimit)
{
    m_threads.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

bool WorkerPool::trySubmit(std::function<void()> task)
{
    {
        const std::lock_guard lock(m_mutex);
        // Tasks already waiting are as many idle threads' worth of work as there are idle threads.
        const std::size_t waitingBeyondIdle = m_queue.size() >= m_idle ? m_queue.size() - m_idle : 0;
        if (m_stopping || waitingBeyondIdle >= m_queueLimit)
            return false;
        m_queue.push_back(std::move(task));
    }
    m_wake.notify_one();
    return true;
}

void WorkerPool::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_idle;
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        --m_idle;
        if (m_stopping)
            return;
        std::function<void()> task = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        task();
        task = nullptr; // what it holds is released outside the lock
        lock.lock();
    }
}

} // namespace server::http
