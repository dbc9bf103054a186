#include "server/http/Connection.h"

#include "server/http/AccessLog.h"
#include "server/http/Log.h"
#include "server/http/Replies.h"
#include "server/http/WorkerPool.h"
#include "server/store/ServerStore.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <QString>

namespace server::http {

namespace net = boost::asio;
namespace beast = boost::beast;
using tcp = net::ip::tcp;

namespace {

using Clock = std::chrono::steady_clock;

// After an answer that ends the connection, what the client still sends is read and dropped
// (never parsed) for a while, so that it is not reset before it reads the answer: each piece
// within `discardWait`, at most drainBytes and `discardLimit` in all.
constexpr auto discardWait = std::chrono::seconds(2);
constexpr auto discardLimit = std::chrono::seconds(30);
// See dispatch().
constexpr std::size_t quickRetryEvery = 16;

} // namespace

Connection::Connection(tcp::socket socket, std::string remote, Transport &transport)
    : m_stream(std::move(socket))
    , m_idleTimer(m_stream.get_executor())
    , m_transport(transport)
    , m_remote(std::move(remote))
{
    beast::error_code error;
    m_stream.socket().set_option(tcp::no_delay(true), error);
    // Writes the worker tries itself must never wait (see send()).
    m_stream.socket().non_blocking(true, error);
}

Connection::~Connection()
{
    m_transport.table.remove(m_place);
}

void Connection::start()
{
    m_transport.table.add(shared_from_this(), m_place, m_remote);
    m_listed = ConnectionTable::Stage::Unstarted;
    m_headDeadline = Clock::now() + m_transport.settings.headerTimeout;
    net::dispatch(m_stream.get_executor(), [self = shared_from_this()] { self->waitForRequest(); });
}

void Connection::closeIfWaiting()
{
    net::post(m_stream.get_executor(), [self = shared_from_this()] {
        if (self->m_state == State::Waiting || self->m_state == State::Head)
            self->closeNow();
    });
}

void Connection::makeRoom()
{
    net::post(m_stream.get_executor(), [self = shared_from_this()] {
        const State state = self->m_state;
        if (state == State::Waiting || state == State::Head || state == State::Body)
            self->closeNow();
    });
}

void Connection::listAsWaiting()
{
    m_transport.table.markWaiting(shared_from_this(), m_place);
    m_listed = ConnectionTable::Stage::Unstarted;
}

// The body has come m_bodyReceived bytes far: from its first byte the connection is among those
// that make room by how much of their bodies they have received.
void Connection::noteBodyProgress()
{
    if (m_bodyReceived == 0)
        return;
    m_place.received.store(m_bodyReceived, std::memory_order_relaxed);
    if (m_listed == ConnectionTable::Stage::Receiving)
        return;
    m_transport.table.markReceiving(shared_from_this(), m_place);
    m_listed = ConnectionTable::Stage::Receiving;
}

void Connection::unlist()
{
    if (m_listed == ConnectionTable::Stage::Busy)
        return;
    m_transport.table.markBusy(m_place);
    m_listed = ConnectionTable::Stage::Busy;
}

void Connection::dispatch()
{
    m_state = State::Busy;
    unlist();
    Handler rest;
    // A client whose requests all need a worker (a song from the LRC folder) would pay for a
    // quick attempt on each; after two misses in a row only one request in quickRetryEvery tries.
    if (m_route->quick && (m_quickMisses < 2 || m_served % quickRetryEvery == 0)) {
        if (answerQuickly(rest)) {
            m_quickMisses = 0;
            return;
        }
        ++m_quickMisses;
    }
    auto self = shared_from_this();
    // Keeps the I/O threads running while the handler works (no operation of this connection is
    // pending meanwhile).
    auto work = net::make_work_guard(m_stream.get_executor());
    const Router::Route *route = m_route;
    const bool queued = m_transport.pool.trySubmit(
        [self, route, work, request = std::move(m_request), rest = std::move(rest)]() mutable {
            self->runHandler(std::move(request), route, rest);
        });
    if (!queued)
        answerNow(503, "the server is busy, try again shortly", !m_parser->is_done(), {{"Retry-After", "1"}});
}

// On the I/O thread: the route's answer from memory, when it has one. A request answered here
// is logged and kept alive like any other; it needs no worker, so a full pool does not refuse it.
bool Connection::answerQuickly(Handler &rest)
{
    Reply reply;
    try {
        if (!m_route->quick(m_request, reply, rest))
            return false;
    } catch (...) {
        rest = nullptr;
        return false; // the handler on the worker answers, and reports a fault as it always does
    }
    send(std::move(reply), true);
    return true;
}

void Connection::runHandler(Request request, const Router::Route *route, const Handler &rest)
{
    Reply reply;
    auto intake = route->streamed ? std::make_shared<BodyIntake>() : nullptr;
    const bool answered = guardedRun(request.method, request.path, reply, [&] {
        if (intake)
            route->streamedHandler(request, reply, *intake);
        else
            (rest ? rest : route->handler)(request, reply);
    });
    if (!answered || !intake || !intake->finish)
        return send(std::move(reply), true); // sent from this thread, see guardedRun()
    // The body comes on the I/O side at the client's pace; this worker is free meanwhile.
    net::post(m_stream.get_executor(), [self = shared_from_this(), intake = std::move(intake)]() mutable {
        self->m_intake = std::move(intake);
        self->m_state = State::Body;
        self->listAsWaiting(); // until the body's first byte
        if (self->m_parser->is_done()) // it came with the head
            return self->readIntoIntake();
        self->continueIfExpected([self] { self->readIntoIntake(); });
    });
}

// Runs `work` and answers true; when it throws, puts the answer for the failure in `reply`
// (overload: 503; a full disk: 507; anything else: 500, logged) and answers false. The caller then sends the reply
// from its own thread: the connection is Busy, so nothing else acts on it, and the answer leaves
// without waiting for an I/O thread to wake (the write's completion runs on the strand).
bool Connection::guardedRun(const std::string &method, const std::string &path, Reply &reply,
                            const std::function<void()> &work)
{
    try {
        work();
        return true;
    } catch (...) {
        QString what = QStringLiteral("unknown error");
        try {
            throw;
        } catch (const StoreBusyError &busy) {
            // Overload, not a fault: nothing was written; the client may ask again shortly.
            reply = Reply();
            reply.setHeader("Retry-After", std::to_string(busy.retryAfterSeconds()));
            sendError(reply, 503, {{"error", QStringLiteral("busy, try again shortly")}});
            return false;
        } catch (const StoreFullError &) {
            // The disk has no room for the write: nothing was written, and it is no fault of ours.
            reply = Reply();
            sendError(reply, 507, {{"error", QStringLiteral("no room to store this now")}});
            return false;
        } catch (const std::exception &e) {
            what = QString::fromUtf8(e.what());
        } catch (...) {
        }
        logLine(QStringLiteral("error: %1 %2 failed: %3")
                    .arg(QString::fromStdString(printableMethod(method)), QString::fromStdString(path), what));
        reply = Reply();
        sendError(reply, 500, {{"error", QStringLiteral("internal error")}});
        return false;
    }
}

void Connection::answerNow(int status, const char *error, bool close, std::vector<Header> headers)
{
    Reply reply;
    sendError(reply, status, {{"error", QString::fromLatin1(error)}});
    reply.close = close;
    reply.headers = std::move(headers);
    send(std::move(reply));
}

void Connection::send(Reply reply, bool writeNow)
{
    if (m_state == State::Closed)
        return;
    m_state = State::Busy;
    unlist();
    ++m_served;
    const bool bodyUnread = !m_parser || !m_parser->is_done();
    m_closeAfter = reply.close || bodyUnread || !m_parser->keep_alive() || m_served >= m_transport.settings.keepAliveMax
        || m_transport.stopping;

    // HEAD is answered as GET, with the head GET would have (its length and type) and no body.
    const bool headOnly = m_malformed.empty() && m_method == "HEAD";
    const bool noBody = reply.status < 200 || reply.status == 204 || reply.status == 304;
    const bool bodiless = noBody || headOnly;
    const std::size_t size = reply.source ? reply.streamedSize : reply.body.size();
    std::string &out = m_out;
    out.clear();
    out.reserve(160 + (reply.source ? 0 : reply.body.size()));
    out += "HTTP/1.1 ";
    out += std::to_string(reply.status);
    out += ' ';
    out += reasonPhrase(reply.status);
    out += "\r\n";
    if (!reply.contentType.empty() && !noBody) {
        out += "Content-Type: ";
        out += reply.contentType;
        out += "\r\n";
    }
    if (!noBody) {
        out += "Content-Length: ";
        out += std::to_string(size);
        out += "\r\n";
    }
    for (const Header &header : reply.headers) {
        // A value with a line break would start a header of its own: never sent.
        if (header.value.find_first_of("\r\n") != std::string::npos || header.name.find_first_of("\r\n: ") != std::string::npos)
            continue;
        out += header.name;
        out += ": ";
        out += header.value;
        out += "\r\n";
    }
    if (m_closeAfter)
        out += "Connection: close\r\n";
    out += "\r\n";
    m_sent = 0;
    m_left = 0;
    if (!reply.source) {
        if (!bodiless) {
            out += reply.body;
            m_sent = reply.body.size();
        }
    } else if (!bodiless) {
        m_left = size;
        m_reply = std::move(reply);
    }
    std::size_t written = 0;
    if (writeNow && m_left == 0) {
        // A whole answer usually fits the socket's buffer: it is sent at once, and a worker that
        // sends it goes on to wait for the next request itself, so no I/O thread has to wake.
        beast::error_code error;
        while (written < m_out.size() && !error)
            written += m_stream.socket().write_some(net::buffer(m_out.data() + written, m_out.size() - written), error);
        if (!error)
            return afterAnswer({});
        if (error != net::error::would_block && error != net::error::try_again)
            return afterAnswer(error);
    }
    m_stream.expires_after(m_transport.settings.writeTimeout);
    net::async_write(m_stream, net::buffer(m_out.data() + written, m_out.size() - written),
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                         if (error)
                             return self->afterAnswer(error);
                         self->sendMore();
                     });
}

void Connection::sendMore()
{
    if (m_left == 0)
        return afterAnswer({});
    if (!m_piece)
        m_piece = std::make_unique<char[]>(pieceSize);
    const std::size_t filled = m_reply.source(m_piece.get(), std::min(pieceSize, m_left));
    if (filled == 0) // the source ended before the length announced: the client must see a cut
        return afterAnswer(net::error::broken_pipe);
    m_left -= std::min(filled, m_left);
    m_sent += filled;
    // Each piece within the write time-out: a slow reader costs a piece of memory, never a thread.
    m_stream.expires_after(m_transport.settings.writeTimeout);
    net::async_write(m_stream, net::buffer(m_piece.get(), filled),
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                         if (error)
                             return self->afterAnswer(error);
                         self->sendMore();
                     });
}

void Connection::afterAnswer(beast::error_code error)
{
    const int status = std::atoi(m_out.c_str() + 9);
    if (!m_malformed.empty())
        logRequestLine(malformedLine(m_malformed, status, m_sent));
    else
        logRequestLine(accessLine(m_transport.router, m_method, m_target, status, Clock::now() - m_started, m_sent));
    m_reply = Reply();
    m_piece.reset();
    m_intake.reset();
    if (m_out.capacity() > 4096)
        std::string().swap(m_out);
    if (error)
        return closeNow();
    if (m_closeAfter)
        return discardAndClose();
    waitForRequest();
}

void Connection::discardAndClose()
{
    m_state = State::Busy;
    beast::error_code ignored;
    m_stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    m_buffer.clear(); // whatever followed the answered request is never parsed
    m_discarded = 0;
    m_discardUntil = Clock::now() + discardLimit;
    m_piece = std::make_unique<char[]>(pieceSize);
    discardMore();
}

void Connection::discardMore()
{
    m_stream.expires_after(std::min<Clock::duration>(discardWait, m_discardUntil - Clock::now()));
    m_stream.async_read_some(net::buffer(m_piece.get(), pieceSize),
                             [self = shared_from_this()](beast::error_code error, std::size_t got) {
                                 self->m_discarded += got;
                                 if (error || self->m_discarded > drainBytes || Clock::now() >= self->m_discardUntil)
                                     return self->closeNow();
                                 self->discardMore();
                             });
}

void Connection::closeNow()
{
    if (m_state == State::Closed)
        return;
    m_state = State::Closed;
    unlist();
    m_idleTimer.cancel();
    beast::error_code ignored;
    m_stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    m_stream.close();
    m_piece.reset();
    m_intake.reset(); // and with it what the body was going into
}

} // namespace server::http
