#include "server/http/WorkerPool.h"

#include "server/http/Log.h"

#include <string>

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
    if (m_queue.size() >= m_queueLimit) {
        if (!fullNoticeDue())
            return false;
        const std::string line = "workers: all " + std::to_string(m_threads.size()) + " busy and "
            + std::to_string(m_queue.size()) + " requests waiting; more are answered 503";
        lock.unlock();
        logRequestLine(line);
        return false;
    }
    m_queue.push_back(std::move(task));
    return true;
}

bool WorkerPool::fullNoticeDue()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_lastFullNotice && now - *m_lastFullNotice < fullNoticeInterval)
        return false;
    m_lastFullNotice = now;
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
