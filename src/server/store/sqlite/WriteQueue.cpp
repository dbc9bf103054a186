#include "server/store/sqlite/WriteQueue.h"

#include "server/store/ServerStore.h"

#include <algorithm>

namespace server {

WriteQueue::WriteQueue(std::size_t capacity, std::chrono::milliseconds maxWait)
    : m_capacity(capacity), m_maxWait(maxWait)
{
}

int WriteQueue::retryAfterSeconds() const
{
    // A quarter of the longest wait: by then the line has usually moved on a good deal.
    return int(std::clamp<long long>(std::chrono::ceil<std::chrono::seconds>(m_maxWait / 4).count(), 1, 5));
}

std::size_t WriteQueue::waiting()
{
    std::lock_guard lock(m_mutex);
    return m_waiting.size();
}

void WriteQueue::enter()
{
    std::unique_lock lock(m_mutex);
    if (!m_held && m_waiting.empty()) {
        m_held = true;
        return;
    }
    if (m_waiting.size() >= m_capacity)
        throw StoreBusyError("the write queue is full", retryAfterSeconds());
    Waiter me;
    const auto place = m_waiting.insert(m_waiting.end(), &me);
    // The one leaving hands the turn over (m_held stays true) and marks the waiter granted.
    if (!me.wake.wait_until(lock, Clock::now() + m_maxWait, [&me] { return me.granted; })) {
        m_waiting.erase(place);
        throw StoreBusyError("a write waited too long for its turn", retryAfterSeconds());
    }
}

void WriteQueue::leave()
{
    std::lock_guard lock(m_mutex);
    if (m_waiting.empty()) {
        m_held = false;
        return;
    }
    Waiter *next = m_waiting.front();
    m_waiting.pop_front();
    next->granted = true;
    next->wake.notify_one();
}

WriteQueue::Turn::Turn(WriteQueue &queue)
    : m_queue(queue)
{
    m_queue.enter();
}

WriteQueue::Turn::~Turn()
{
    m_queue.leave();
}

} // namespace server
