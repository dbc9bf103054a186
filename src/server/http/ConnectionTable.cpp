#include "server/http/ConnectionTable.h"

namespace server::http {

ConnectionTable::Admission ConnectionTable::admit(const std::string &address, Limits limits)
{
    const std::lock_guard lock(m_mutex);
    const auto share = m_shares.find(address);
    if (share != m_shares.end() && share->second.count >= limits.perAddress) {
        std::shared_ptr<Connection> evicted = takeFirst(share->second.waiting);
        return {evicted != nullptr, std::move(evicted)};
    }
    if (m_count >= limits.total) {
        std::shared_ptr<Connection> evicted = takeFirst(m_waiting);
        return {evicted != nullptr, std::move(evicted)};
    }
    return {true, nullptr};
}

void ConnectionTable::add(const std::shared_ptr<Connection> &connection, Place &place, const std::string &address)
{
    const std::lock_guard lock(m_mutex);
    ++m_count;
    const auto share = m_shares.try_emplace(address).first;
    place.address = &share->first;
    place.share = &share->second;
    ++place.share->count;
    place.entry = m_all.insert(m_all.end(), Node{connection, &place});
    // Waiting for its first request from now, in the order of arrival (not of when its I/O
    // thread gets to it): the next arrival may need the room.
    enterWaiting(connection, place);
}

void ConnectionTable::remove(Place &place)
{
    const std::lock_guard lock(m_mutex);
    if (!place.share)
        return; // never added
    leaveWaiting(place);
    --m_count;
    m_all.erase(place.entry);
    if (--place.share->count == 0)
        m_shares.erase(m_shares.find(*place.address));
    place.share = nullptr;
}

void ConnectionTable::markWaiting(const std::shared_ptr<Connection> &connection, Place &place)
{
    const std::lock_guard lock(m_mutex);
    enterWaiting(connection, place);
}

void ConnectionTable::enterWaiting(const std::shared_ptr<Connection> &connection, Place &place)
{
    if (place.isWaiting || !place.share)
        return;
    place.waiting = m_waiting.insert(m_waiting.end(), Node{connection, &place});
    place.addressWaiting = place.share->waiting.insert(place.share->waiting.end(), Node{connection, &place});
    place.isWaiting = true;
}

void ConnectionTable::markBusy(Place &place)
{
    const std::lock_guard lock(m_mutex);
    leaveWaiting(place);
}

void ConnectionTable::leaveWaiting(Place &place)
{
    if (!place.isWaiting)
        return;
    m_waiting.erase(place.waiting);
    place.share->waiting.erase(place.addressWaiting);
    place.isWaiting = false;
}

std::shared_ptr<Connection> ConnectionTable::takeFirst(List &from)
{
    while (!from.empty()) {
        const Node first = from.front();
        leaveWaiting(*first.place);
        // A connection that cannot be locked is on its way out (its destructor waits for this
        // lock to remove it): it makes no room, the next one does.
        if (std::shared_ptr<Connection> connection = first.connection.lock())
            return connection;
    }
    return nullptr;
}

std::size_t ConnectionTable::size() const
{
    const std::lock_guard lock(m_mutex);
    return m_count;
}

std::vector<std::shared_ptr<Connection>> ConnectionTable::all() const
{
    std::vector<std::shared_ptr<Connection>> connections;
    const std::lock_guard lock(m_mutex);
    connections.reserve(m_count);
    for (const Node &node : m_all) {
        if (std::shared_ptr<Connection> connection = node.connection.lock())
            connections.push_back(std::move(connection));
    }
    return connections;
}

} // namespace server::http
