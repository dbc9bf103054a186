#include "server/store/Pruner.h"

namespace server {

namespace {
// The first pass waits a little, so that a start (and its seeding) is not slowed by it.
constexpr std::chrono::seconds firstPass{5};
} // namespace

Pruner::Pruner(ServerStore &store, std::chrono::seconds interval, std::function<qint64()> now, Log log)
    : m_store(store), m_interval(interval), m_now(std::move(now)), m_log(std::move(log)), m_thread([this] { run(); })
{
}

Pruner::~Pruner()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void Pruner::run()
{
    std::chrono::seconds wait = std::min(firstPass, m_interval);
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, wait, [this] { return m_stopping; })) {
        wait = m_interval;
        lock.unlock();
        try {
            const PruneReport report = m_store.prune(m_now());
            if (report.refreshTokens + report.signIns + report.counters + report.other > 0)
                m_log(QStringLiteral("prune: %1 used refresh tokens, %2 sign-ins, %3 rate windows, %4 others deleted")
                          .arg(report.refreshTokens).arg(report.signIns).arg(report.counters).arg(report.other));
        } catch (const StoreError &error) {
            m_log(QStringLiteral("prune failed (tried again later): %1").arg(QString::fromUtf8(error.what())));
        }
        lock.lock();
    }
}

} // namespace server
