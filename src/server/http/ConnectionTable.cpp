#include "server/http/ConnectionTable.h"

#include <algorithm>

namespace server::http {

ConnectionTable::Admission ConnectionTable::admit(const std::string &address, Limits limits)
{
    const std::lock_guard lock(m_mutex);
    const auto share = m_shares.find(address);
    if (share != m_shares.end() && share->second.count >= limits.perAddress) {
        std::shared_ptr<Connection> evicted = takeLeastProgress(share->second.lists);
        return {evicted != nullptr, std::move(evicted)};
    }
    if (m_count >= limits.total) {
        std::shared_ptr<Connection> evicted = takeLeastProgress(m_lists);
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
    enter(connection, place, Stage::Unstarted);
}

void ConnectionTable::remove(Place &place)
{
    const std::lock_guard lock(m_mutex);
    if (!place.share)
        return; // never added
    leave(place);
    --m_count;
    m_all.erase(place.entry);
    if (--place.share->count == 0)
        m_shares.erase(m_shares.find(*place.address));
    place.share = nullptr;
}

void ConnectionTable::markWaiting(const std::shared_ptr<Connection> &connection, Place &place)
{
    const std::lock_guard lock(m_mutex);
    if (place.stage == Stage::Busy)
        enter(connection, place, Stage::Unstarted);
}

void ConnectionTable::markReceiving(const std::shared_ptr<Connection> &connection, Place &place)
{
    const std::lock_guard lock(m_mutex);
    if (place.stage == Stage::Receiving)
        return;
    leave(place);
    enter(connection, place, Stage::Receiving);
}

void ConnectionTable::markBusy(Place &place)
{
    const std::lock_guard lock(m_mutex);
    leave(place);
}

void ConnectionTable::enter(const std::shared_ptr<Connection> &connection, Place &place, Stage stage)
{
    if (!place.share)
        return;
    place.listed = m_lists.of(stage).insert(m_lists.of(stage).end(), Node{connection, &place});
    List &own = place.share->lists.of(stage);
    place.addressListed = own.insert(own.end(), Node{connection, &place});
    place.stage = stage;
}

void ConnectionTable::leave(Place &place)
{
    if (place.stage == Stage::Busy)
        return;
    m_lists.of(place.stage).erase(place.listed);
    place.share->lists.of(place.stage).erase(place.addressListed);
    place.stage = Stage::Busy;
}

// The unstarted connection that has waited longest; failing that, the receiving one with fewest
// body bytes (of equals, the one receiving longest). Receiving connections are looked through one
// by one: the table comes to them only when none is unstarted, which a flood of idle or
// body-less connections never lets happen.
std::shared_ptr<Connection> ConnectionTable::takeLeastProgress(Lists &from)
{
    for (;;) {
        List::iterator chosen = from.unstarted.begin();
        if (from.unstarted.empty()) {
            chosen = std::min_element(from.receiving.begin(), from.receiving.end(), [](const Node &a, const Node &b) {
                return a.place->received.load(std::memory_order_relaxed) < b.place->received.load(std::memory_order_relaxed);
            });
            if (chosen == from.receiving.end())
                return nullptr;
        }
        const Node node = *chosen;
        leave(*node.place);
        // A connection that cannot be locked is on its way out (its destructor waits for this
        // lock to remove it): it makes no room, the next one does.
        if (std::shared_ptr<Connection> connection = node.connection.lock())
            return connection;
    }
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
