#include "server/http/WorkerPool.h"

namespace server::http {

WorkerPool::WorkerPool(std::size_t threads, std::size_t queueLimit)
    : m_queueLimit(queueLimit)
{
    m_workers.reserve(threads);
    m_threads.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) {
        m_workers.push_back(std::make_unique<Worker>());
        m_threads.emplace_back([this, worker = m_workers.back().get()] { run(*worker); });
    }
}

WorkerPool::~WorkerPool()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    for (const std::unique_ptr<Worker> &worker : m_workers)
        worker->wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

bool WorkerPool::trySubmit(std::function<void()> task)
{
    std::unique_lock lock(m_mutex);
    if (m_stopping)
        return false;
    if (!m_idle.empty()) {
        Worker *worker = m_idle.back();
        m_idle.pop_back();
        worker->task = std::move(task);
        lock.unlock();
        worker->wake.notify_one();
        return true;
    }
    if (m_queue.size() >= m_queueLimit)
        return false;
    m_queue.push_back(std::move(task));
    return true;
}

void WorkerPool::run(Worker &worker)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (!worker.task) {
            if (!m_queue.empty()) {
                worker.task = std::move(m_queue.front());
                m_queue.pop_front();
            } else {
                m_idle.push_back(&worker);
                worker.wake.wait(lock, [this, &worker] { return m_stopping || worker.task; });
            }
        }
        if (m_stopping)
            return;
        std::function<void()> task = std::move(worker.task);
        worker.task = nullptr;
        lock.unlock();
        task();
        task = nullptr; // what it holds is released outside the lock
        lock.lock();
    }
}

} // namespace server::http
