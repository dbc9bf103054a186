#pragma once

#include "server/http/ConnectionTable.h"
#include "server/http/Message.h"
#include "server/http/Router.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/parser.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace server::http {

class Connection;
class WorkerPool;

struct TransportSettings
{
    std::chrono::milliseconds headerTimeout{10000};
    std::chrono::milliseconds keepAliveTimeout{5000};
    std::chrono::milliseconds writeTimeout{30000};
    std::size_t keepAliveMax = 1000;
    std::size_t maxConnections = 10000;
    std::size_t maxConnectionsPerAddress = 256;
};

// What the connections of one server share.
struct Transport
{
    const Router &router;
    WorkerPool &pool;
    ConnectionTable &table;
    TransportSettings settings;
    std::atomic<bool> stopping{false};
};

// One HTTP/1.1 connection, driven by completion handlers on its strand: it costs no thread while
// it waits. Request heads are parsed strictly (anything ambiguous is a 400 and the end of the
// connection); the handler runs on the worker pool, unless the route's quick handler answers
// from memory on the I/O thread; an answer that leaves a body unread ends the
// connection, and nothing after it is parsed.
class Connection : public std::enable_shared_from_this<Connection>
{
public:
    // `remote`: the peer's address.
    Connection(boost::asio::ip::tcp::socket socket, std::string remote, Transport &transport);
    ~Connection();

    void start();
    // Closes the connection if it is waiting for a request or its head is still arriving (never
    // while a request is under way). Any thread.
    void closeIfWaiting();
    // Closes the connection if it may make room for another: as closeIfWaiting(), and while its
    // request's body is awaited or arriving (never while its handler runs or its answer is
    // written). Any thread.
    void makeRoom();

private:
    using Clock = std::chrono::steady_clock;
    using Parser = boost::beast::http::request_parser<boost::beast::http::buffer_body>;
    enum class State { Waiting, Head, Body, Busy, Closed };
    // Bodies are read, and streamed answers sent, in pieces of this size.
    static constexpr std::size_t pieceSize = 64 * 1024;

    void waitForRequest();
    void readHead();
    void parseHead();
    void onHead(boost::beast::error_code error);
    void readWholeBody();
    void dispatch();
    bool answerQuickly(Handler &rest);
    // On a worker: the route's handler, or `rest` when the quick handler left it.
    void runHandler(Request request, const Router::Route *route, const Handler &rest);
    bool guardedRun(const std::string &method, const std::string &path, Reply &reply,
                    const std::function<void()> &work);
    void readIntoIntake();
    bool takeIntoIntake(std::size_t got);
    void refuseBody(boost::beast::error_code error);
    void finishIntake();
    void answerNow(int status, const char *error, bool close, std::vector<Header> headers = {});
    // `writeNow`: write what fits at once, from this thread (a worker's, or the I/O thread's).
    void send(Reply reply, bool writeNow = false);
    void sendMore();
    void afterAnswer(boost::beast::error_code error);
    void discardAndClose();
    void discardMore();
    void closeNow();
    // In the table's lists of connections that may make room (see ConnectionTable), or out of them.
    void listAsWaiting();
    void noteBodyProgress();
    void unlist();
    void setBodyDeadline();
    template<class Then>
    void awaitBody(Then then);
    void continueIfExpected(std::function<void()> next);

    boost::beast::tcp_stream m_stream;
    boost::asio::steady_timer m_idleTimer;
    boost::beast::flat_buffer m_buffer;
    std::optional<Parser> m_parser;
    Transport &m_transport;
    ConnectionTable::Place m_place;
    // Where this connection last put itself in the table (only it puts itself in a list; the
    // table may take it out to make room, and then this is stale until it next moves).
    ConnectionTable::Stage m_listed = ConnectionTable::Stage::Busy;
    // Written on the strand, and by the handler's worker while the connection is Busy (when
    // nothing else acts on it); read by closeIfWaiting()'s check.
    std::atomic<State> m_state{State::Waiting};
    std::size_t m_served = 0;
    std::size_t m_quickMisses = 0; // quick handlers that declined, in a row
    std::string m_remote;
    Clock::time_point m_headDeadline;
    std::size_t m_emptyLines = 0; // bytes of empty lines skipped before the request line
    std::array<char, 1024> m_arrival; // the first bytes of a request (most heads whole)

    // The request under way.
    Request m_request;
    std::string m_method;     // of the request under way, for its log line
    std::string m_target;
    std::string m_malformed;  // why the request could not be parsed; empty when it could
    const Router::Route *m_route = nullptr;
    Clock::time_point m_started;
    std::unique_ptr<char[]> m_piece; // the body's next bytes (read pieces, discarded bytes)
    std::shared_ptr<BodyIntake> m_intake; // where a streamed body goes (on the strand, while State::Body)
    std::size_t m_bodyReceived = 0;
    Clock::duration m_bodyWaited{}; // time spent waiting for the body's bytes
    bool m_continueSent = false;

    // The answer under way.
    std::string m_out;
    Reply m_reply;
    std::size_t m_left = 0;   // bytes of a streamed body still to send
    std::size_t m_sent = 0;   // body bytes sent
    bool m_closeAfter = false;
    std::size_t m_discarded = 0;
    Clock::time_point m_discardUntil;
};

} // namespace server::http
