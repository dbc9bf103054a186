#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace server::http {

class Connection;

// Every open connection, counted in all and per client address (the socket's peer), and those
// that wait for a request or are still reading its head in the order they began to (the
// connection that has gone longest without a request made is the first to make room). Shared by
// the I/O threads and the accepting one.
class ConnectionTable
{
public:
    struct Place;
    struct Node
    {
        std::weak_ptr<Connection> connection;
        Place *place; // the connection's, valid while it is in the table
    };
    using List = std::list<Node>;
    struct Share
    {
        std::size_t count = 0;
        List waiting;
    };
    // What the table keeps of one connection; the connection holds it, the table changes it
    // under its lock.
    struct Place
    {
        List::iterator entry;
        List::iterator waiting;        // in the table's list, valid while isWaiting
        List::iterator addressWaiting; // in its address's list, valid while isWaiting
        Share *share = nullptr;        // its address's
        const std::string *address = nullptr; // the key of `share`
        bool isWaiting = false;
    };
    struct Limits
    {
        std::size_t total = 0;
        std::size_t perAddress = 0;
    };
    struct Admission
    {
        bool admitted = false;
        // To be closed to make room (if it is still waiting, see Connection::closeIfWaiting).
        std::shared_ptr<Connection> evicted;
    };

    // Whether a new connection from `address` may be added: at its address's share the address's
    // own connection that has waited longest makes room, at the total the table's; none when
    // every such connection has a request under way, and then it is refused.
    Admission admit(const std::string &address, Limits limits);
    void add(const std::shared_ptr<Connection> &connection, Place &place, const std::string &address);
    void remove(Place &place);
    // The connection waits for a request (or reads its head) from now / has a request under way.
    void markWaiting(const std::shared_ptr<Connection> &connection, Place &place);
    void markBusy(Place &place);
    std::size_t size() const;
    std::vector<std::shared_ptr<Connection>> all() const;

private:
    std::shared_ptr<Connection> takeFirst(List &from);
    void enterWaiting(const std::shared_ptr<Connection> &connection, Place &place);
    void leaveWaiting(Place &place);

    mutable std::mutex m_mutex;
    List m_all;
    List m_waiting;
    std::unordered_map<std::string, Share> m_shares; // by address; references stay valid
    std::size_t m_count = 0;
};

} // namespace server::http
