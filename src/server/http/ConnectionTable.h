#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

namespace server::http {

class Connection;

// Every open connection, and those waiting for a request in the order they began to wait (the
// first to be closed when the server is full). Shared by the I/O threads.
class ConnectionTable
{
public:
    using Entry = std::list<std::weak_ptr<Connection>>::iterator;

    Entry add(const std::shared_ptr<Connection> &connection);
    void remove(Entry entry);
    // The connection waits for a request / no longer does (its place is kept in the connection,
    // under this table's lock).
    void markIdle(const std::shared_ptr<Connection> &connection);
    void markBusy(Connection &connection);
    std::size_t size() const;
    // The connection that has waited longest, taken off the idle list; none when none waits.
    std::shared_ptr<Connection> takeOldestIdle();
    std::vector<std::shared_ptr<Connection>> all() const;

private:
    mutable std::mutex m_mutex;
    std::list<std::weak_ptr<Connection>> m_all;
    std::list<std::weak_ptr<Connection>> m_idle;
    std::size_t m_count = 0;
};

} // namespace server::http
