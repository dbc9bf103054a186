#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>

namespace server {

// GET /healthz: whether the database answers. A successful check stands for `reuse` (a second
// by default): monitors and load balancers may ask many times a second, and each would cost a
// database round trip otherwise. A failed check stands for nothing: until the database answers
// again, every request checks.
class HealthCheck
{
public:
    using Clock = std::chrono::steady_clock;

    explicit HealthCheck(std::function<bool()> ping, Clock::duration reuse = std::chrono::seconds(1))
        : m_ping(std::move(ping)), m_reuse(reuse)
    {
    }

    bool healthy(Clock::time_point now = Clock::now())
    {
        if (knownHealthy(now))
            return true;
        if (!m_ping()) {
            m_lastSuccess.store(never, std::memory_order_relaxed);
            return false;
        }
        m_lastSuccess.store(now.time_since_epoch().count(), std::memory_order_relaxed);
        return true;
    }

    // True when a successful check still stands, so that healthy() would answer without asking
    // the database; false when it would ask.
    bool knownHealthy(Clock::time_point now = Clock::now()) const
    {
        const Clock::rep last = m_lastSuccess.load(std::memory_order_relaxed);
        return last != never && now - Clock::time_point(Clock::duration(last)) < m_reuse
            && now >= Clock::time_point(Clock::duration(last));
    }

private:
    static constexpr Clock::rep never = std::numeric_limits<Clock::rep>::min();

    std::function<bool()> m_ping;
    Clock::duration m_reuse;
    std::atomic<Clock::rep> m_lastSuccess{never};
};

} // namespace server
