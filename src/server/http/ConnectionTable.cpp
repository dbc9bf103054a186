#include "server/http/ConnectionTable.h"

#include "server/http/Connection.h"

namespace server::http {

ConnectionTable::Entry ConnectionTable::add(const std::shared_ptr<Connection> &connection)
{
    const std::lock_guard lock(m_mutex);
    ++m_count;
    return m_all.insert(m_all.end(), connection);
}

void ConnectionTable::remove(Entry entry)
{
    const std::lock_guard lock(m_mutex);
    --m_count;
    m_all.erase(entry);
}

void ConnectionTable::markIdle(const std::shared_ptr<Connection> &connection)
{
    const std::lock_guard lock(m_mutex);
    if (connection->m_idle)
        return;
    connection->m_idleEntry = m_idle.insert(m_idle.end(), connection);
    connection->m_idle = true;
}

void ConnectionTable::markBusy(Connection &connection)
{
    const std::lock_guard lock(m_mutex);
    if (!connection.m_idle)
        return;
    m_idle.erase(connection.m_idleEntry);
    connection.m_idle = false;
}

std::size_t ConnectionTable::size() const
{
    const std::lock_guard lock(m_mutex);
    return m_count;
}

std::shared_ptr<Connection> ConnectionTable::takeOldestIdle()
{
    const std::lock_guard lock(m_mutex);
    while (!m_idle.empty()) {
        std::shared_ptr<Connection> oldest = m_idle.front().lock();
        m_idle.pop_front();
        if (oldest) {
            oldest->m_idle = false;
            return oldest;
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<Connection>> ConnectionTable::all() const
{
    std::vector<std::shared_ptr<Connection>> connections;
    const std::lock_guard lock(m_mutex);
    connections.reserve(m_count);
    for (const std::weak_ptr<Connection> &entry : m_all) {
        if (std::shared_ptr<Connection> connection = entry.lock())
            connections.push_back(std::move(connection));
    }
    return connections;
}

} // namespace server::http
