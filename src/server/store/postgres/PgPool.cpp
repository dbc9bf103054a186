#include "server/store/postgres/PgPool.h"

#include <algorithm>

namespace server::pg {

Pool::Pool(std::string connectionString, std::string secret, QString redactedUrl, int maxConnections, int maxTransfers)
    : m_connectionString(std::move(connectionString))
    , m_secret(std::move(secret))
    , m_redactedUrl(std::move(redactedUrl))
    , m_maxConnections(std::max(1, maxConnections))
    , m_maxTransfers(std::clamp(maxTransfers, 1, m_maxConnections))
{
}

Pool::TransferSlot::TransferSlot(Pool &pool)
    : m_pool(pool)
{
    std::unique_lock lock(m_pool.m_mutex);
    m_pool.m_transferFreed.wait(lock, [this] { return m_pool.m_transfers < m_pool.m_maxTransfers; });
    ++m_pool.m_transfers;
}

Pool::TransferSlot::~TransferSlot()
{
    {
        const std::lock_guard lock(m_pool.m_mutex);
        --m_pool.m_transfers;
    }
    m_pool.m_transferFreed.notify_one();
}

Pool::~Pool() = default;

std::unique_ptr<pqxx::connection> Pool::acquire(bool &reused)
{
    {
        std::unique_lock lock(m_mutex);
        m_available.wait(lock, [this] { return !m_idle.empty() || m_open < m_maxConnections; });
        if (!m_idle.empty()) {
            auto connection = std::move(m_idle.back());
            m_idle.pop_back();
            reused = true;
            return connection;
        }
        ++m_open; // reserve the slot before connecting outside the lock
    }
    reused = false;
    try {
        return std::make_unique<pqxx::connection>(m_connectionString);
    } catch (const std::exception &error) {
        discard();
        throw failure("cannot connect to the database", error);
    }
}

void Pool::release(std::unique_ptr<pqxx::connection> connection)
{
    if (!connection->is_open()) {
        discard();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_idle.push_back(std::move(connection));
    }
    m_available.notify_one();
}

void Pool::discard()
{
    {
        std::lock_guard lock(m_mutex);
        --m_open;
    }
    m_available.notify_one();
}

StoreError Pool::failure(const char *what, const std::exception &error) const
{
    std::string detail = error.what();
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == ' '))
        detail.pop_back();
    if (!m_secret.empty()) {
        for (auto at = detail.find(m_secret); at != std::string::npos; at = detail.find(m_secret, at))
            detail.replace(at, m_secret.size(), "***");
    }
    return StoreError("PostgreSQL " + m_redactedUrl.toStdString() + ": " + what + ": " + detail);
}

} // namespace server::pg
