#pragma once

#include <atomic>
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
// that may be closed to make room, by how far they have come. Unstarted: waiting for a request,
// reading its head, or with a whole head and none of its body yet, in the order they began to
// wait (the connection longest without progress is the first to make room). Receiving: its body
// is arriving; among them the one with fewest body bytes makes room, and only when no connection
// is unstarted. One whose handler runs or whose answer is being written is in neither and never
// makes room. Shared by the I/O threads and the accepting one.
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
    enum class Stage { Busy, Unstarted, Receiving };
    struct Lists
    {
        List unstarted;
        List receiving;
        List &of(Stage stage) { return stage == Stage::Receiving ? receiving : unstarted; }
    };
    struct Share
    {
        std::size_t count = 0;
        Lists lists;
    };
    // What the table keeps of one connection; the connection holds it, the table changes it
    // under its lock.
    struct Place
    {
        List::iterator entry;
        List::iterator listed;        // in the table's list of its stage, valid unless Busy
        List::iterator addressListed; // in its address's list of its stage, valid unless Busy
        Share *share = nullptr;       // its address's
        const std::string *address = nullptr; // the key of `share`
        Stage stage = Stage::Busy;
        // Body bytes of the request under way; the connection writes it without the lock.
        std::atomic<std::size_t> received{0};
    };
    struct Limits
    {
        std::size_t total = 0;
        std::size_t perAddress = 0;
    };
    struct Admission
    {
        bool admitted = false;
        // To be closed to make room (if it still may, see Connection::makeRoom).
        std::shared_ptr<Connection> evicted;
    };

    // Whether a new connection from `address` may be added: at its address's share the address's
    // own connection with least progress makes room, at the total the table's; none when every
    // such connection has a request under way, and then it is refused.
    Admission admit(const std::string &address, Limits limits);
    void add(const std::shared_ptr<Connection> &connection, Place &place, const std::string &address);
    void remove(Place &place);
    // The connection waits for a request (or its head, or its body's first byte) from now; its
    // body is arriving; its request is under way.
    void markWaiting(const std::shared_ptr<Connection> &connection, Place &place);
    void markReceiving(const std::shared_ptr<Connection> &connection, Place &place);
    void markBusy(Place &place);
    std::size_t size() const;
    std::vector<std::shared_ptr<Connection>> all() const;

private:
    std::shared_ptr<Connection> takeLeastProgress(Lists &from);
    void enter(const std::shared_ptr<Connection> &connection, Place &place, Stage stage);
    void leave(Place &place);

    mutable std::mutex m_mutex;
    List m_all;
    Lists m_lists;
    std::unordered_map<std::string, Share> m_shares; // by address; references stay valid
    std::size_t m_count = 0;
};

} // namespace server::http
