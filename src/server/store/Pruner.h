#pragma once

#include "server/store/ServerStore.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace server {

// Prunes the store on a thread of its own: once soon after start, then every `interval`. Any
// number of processes may do this at once (pruning is idempotent). A failed pass is logged and
// tried again at the next one. Stops (and joins) on destruction.
class Pruner
{
public:
    using Log = std::function<void(const QString &)>;

    Pruner(ServerStore &store, std::chrono::seconds interval, std::function<qint64()> now, Log log);
    ~Pruner();
    Pruner(const Pruner &) = delete;
    Pruner &operator=(const Pruner &) = delete;

private:
    void run();

    ServerStore &m_store;
    const std::chrono::seconds m_interval;
    std::function<qint64()> m_now;
    Log m_log;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace server
