#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <mutex>

namespace server {

// One writer at a time, served in arrival order. SQLite has one write lock per file, and its
// busy handler lets waiters poll for it with back-off: under load, some wait past any time-out
// while later ones get in. In front of it, the writers of one process line up here instead, so
// that the lock is handed from one to the next at once, in order.
//
// The line is bounded: a writer that finds `capacity` others waiting, or whose turn does not
// come within `maxWait`, is refused (StoreBusyError) without having written anything.
class WriteQueue
{
public:
    using Clock = std::chrono::steady_clock;

    WriteQueue(std::size_t capacity, std::chrono::milliseconds maxWait);

    // Holds the turn from construction to destruction. Throws StoreBusyError.
    class Turn
    {
    public:
        explicit Turn(WriteQueue &queue);
        ~Turn();
        Turn(const Turn &) = delete;
        Turn &operator=(const Turn &) = delete;

    private:
        WriteQueue &m_queue;
    };

    // Seconds a refused client is told to wait before asking again.
    int retryAfterSeconds() const;
    // Writers waiting for their turn now (not the one holding it).
    std::size_t waiting();

private:
    struct Waiter
    {
        std::condition_variable wake;
        bool granted = false;
    };

    void enter();
    void leave();

    const std::size_t m_capacity;
    const std::chrono::milliseconds m_maxWait;
    std::mutex m_mutex;
    bool m_held = false;
    std::list<Waiter *> m_waiting; // in arrival order
};

} // namespace server
