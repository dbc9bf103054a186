#include "server/http/Connection.h"

#include "server/http/AccessLog.h"
#include "server/http/Log.h"
#include "server/http/Replies.h"
#include "server/http/StrictHead.h"
#include "server/http/WorkerPool.h"
#include "server/store/ServerStore.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/read.hpp>

#include <QString>

#include <limits>

namespace server::http {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
using tcp = net::ip::tcp;

namespace {

using Clock = std::chrono::steady_clock;

// A request head (request line and header fields) longer than this is refused (431).
constexpr std::uint32_t headerLimit = 32 * 1024;
// Bodies are read, and streamed answers sent, in pieces of this size.
constexpr std::size_t pieceSize = 64 * 1024;
// What one read of a request head asks for.
constexpr std::size_t readSize = 4096;
// A body must arrive at this rate at least (bytes a second), after a grace of the header time-out.
constexpr std::size_t minimumBodyRate = 4096;
// After an answer that ends the connection, what the client still sends is read and dropped
// (never parsed) for a while, so that it is not reset before it reads the answer: each piece
// within `discardWait`, at most drainBytes and `discardLimit` in all.
constexpr auto discardWait = std::chrono::seconds(2);
constexpr auto discardLimit = std::chrono::seconds(30);
// See dispatch().
constexpr std::size_t quickRetryEvery = 16;

} // namespace

// ---- the connection ------------------------------------------------------------------------------

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

// Waits for the first bytes of the next request without holding a parser or a buffer from the
// heap: a connection kept alive between requests costs its socket and a few kilobytes.
void Connection::waitForRequest()
{
    if (m_transport.stopping)
        return closeNow();
    m_state = State::Waiting;
    // From now until its head is whole the connection may be closed to make room (see ConnectionTable).
    m_transport.table.markWaiting(shared_from_this(), m_place);
    if (m_buffer.size() > 0) { // pipelined: the next request is here already
        m_headDeadline = Clock::now() + m_transport.settings.headerTimeout;
        // Read once this request's call chain has unwound: an answer given on the I/O thread
        // would otherwise nest one call deeper for each request a client pipelines.
        return net::post(m_stream.get_executor(), [self = shared_from_this()] {
            if (self->m_state == State::Waiting)
                self->readHead();
        });
    }
    m_parser.reset();
    m_buffer.shrink_to_fit();
    const Clock::duration wait = m_served == 0 ? m_headDeadline - Clock::now() : m_transport.settings.keepAliveTimeout;
    m_idleTimer.expires_after(wait);
    m_idleTimer.async_wait([self = shared_from_this()](beast::error_code error) {
        if (!error && self->m_state == State::Waiting)
            self->closeNow();
    });
    // A read, not a wait for readability: the reactor registers a wait anew each time (a system
    // call per request), a read it only queues. Into a small buffer of the connection's own, so a
    // connection kept alive holds no buffer from the heap.
    m_stream.socket().async_read_some(net::buffer(m_arrival), [self = shared_from_this()](beast::error_code error, std::size_t got) {
        self->m_idleTimer.cancel();
        if (error || self->m_state != State::Waiting)
            return self->closeNow();
        if (self->m_served > 0)
            self->m_headDeadline = Clock::now() + self->m_transport.settings.headerTimeout;
        net::buffer_copy(self->m_buffer.prepare(got), net::buffer(self->m_arrival, got));
        self->m_buffer.commit(got);
        self->readHead();
    });
}

void Connection::readHead()
{
    m_state = State::Head;
    m_parser.emplace();
    m_parser->header_limit(headerLimit);
    m_parser->body_limit(std::numeric_limits<std::uint64_t>::max()); // routes judge their bodies
    refuseLooseChunkExtensions(*m_parser);
    m_malformed.clear();
    m_emptyLines = 0;
    parseHead();
}

void Connection::parseHead()
{
    // What has arrived is parsed at once: a whole head (the usual case) needs no read operation
    // and no timer. The parser takes the same bytes again with more until the head is whole.
    beast::error_code error;
    for (;;) {
        // Empty lines before a request line are skipped, at most the head's limit of them.
        if ((m_parser->got_some() || skipEmptyLines(m_buffer, m_emptyLines, headerLimit)) && m_buffer.size() > 0) {
            m_buffer.consume(m_parser->put(m_buffer.data(), error));
            if (error == bhttp::error::need_more)
                error = {};
            if (error || m_parser->is_header_done())
                return onHead(error);
        }
        if (m_buffer.size() >= headerLimit)
            break;
        const std::size_t got = m_stream.socket().read_some(m_buffer.prepare(readSize), error);
        if (error == net::error::would_block || error == net::error::try_again)
            break;
        if (error)
            return onHead(error);
        m_buffer.commit(got);
    }
    // The rest, and the whole head within the header time-out however slowly its bytes come.
    m_stream.expires_at(m_headDeadline);
    if (!m_parser->got_some()) { // only empty lines so far: what comes next is looked at first
        return m_stream.async_read_some(m_buffer.prepare(readSize), [self = shared_from_this()](beast::error_code error, std::size_t got) {
            if (error)
                return self->onHead(error);
            self->m_buffer.commit(got);
            self->parseHead();
        });
    }
    bhttp::async_read_header(m_stream, m_buffer, *m_parser,
                             [self = shared_from_this()](beast::error_code error, std::size_t) { self->onHead(error); });
}

void Connection::onHead(beast::error_code error)
{
    if (m_state == State::Closed)
        return;
    m_transport.table.markBusy(m_place);
    if (error) {
        if (!isParseError(error)) // time-out, hang-up, reset: nothing to answer
            return closeNow();
        m_malformed = error.message();
        const bool tooLong = error == bhttp::error::header_limit;
        return answerNow(tooLong ? 431 : 400, tooLong ? "request head too large" : "bad request", true);
    }
    const auto &head = m_parser->get();
    if (const char *problem = headProblem(head)) {
        m_malformed = problem;
        return answerNow(400, "bad request", true);
    }

    m_request = Request();
    m_request.method = std::string(view(head.method_string()));
    m_request.target = originForm(view(head.target()));
    m_request.path = m_request.target.substr(0, m_request.target.find('?'));
    m_request.headers.reserve(std::size_t(std::distance(head.begin(), head.end())));
    for (const auto &field : head)
        m_request.headers.push_back({std::string(view(field.name_string())), std::string(view(field.value()))});
    m_request.remoteAddress = m_remote;
    m_method = m_request.method;
    m_target = m_request.target;
    m_started = Clock::now();
    m_continueSent = false;
    m_bodyReceived = 0;
    m_bodyWaited = Clock::duration::zero();

    const bool hasBody = !m_parser->is_done();
    m_route = m_transport.router.find(m_request.method, m_request.path);
    if (!m_route) {
        const bool knownPath = m_transport.router.knows(m_request.path);
        return answerNow(knownPath ? 405 : 404, knownPath ? "method not allowed" : "not found", hasBody);
    }
    // Streamed routes judge their bodies themselves (see BackupRoutes).
    if (m_route->streamed)
        return dispatch();
    const boost::optional<std::uint64_t> length = m_parser->content_length();
    if (length && *length > m_route->maxBodyBytes)
        return answerNow(413, "request body too large", true);
    const bool bodyMethod = m_request.method == "POST" || m_request.method == "PUT" || m_request.method == "PATCH";
    if (!length && (m_parser->chunked() || bodyMethod))
        return answerNow(411, "a valid Content-Length is required", true);
    if (!hasBody)
        return dispatch();
    m_state = State::Body;
    m_request.body.resize(std::size_t(*length));
    continueIfExpected([self = shared_from_this()] { self->readWholeBody(); });
}

void Connection::continueIfExpected(std::function<void()> next)
{
    const bool expects = m_parser->get().version() == 11
        && sameName(trimmed(view(m_parser->get()[bhttp::field::expect])), "100-continue");
    if (!expects || m_continueSent)
        return next();
    m_continueSent = true;
    m_out = "HTTP/1.1 100 Continue\r\n\r\n";
    m_stream.expires_after(m_transport.settings.writeTimeout);
    net::async_write(m_stream, net::buffer(m_out),
                     [self = shared_from_this(), next = std::move(next)](beast::error_code error, std::size_t) {
                         if (error)
                             return self->closeNow();
                         next();
                     });
}

void Connection::setBodyDeadline()
{
    // Time spent waiting for the body's bytes (not time the handler spends on them) may not pass
    // the grace plus what the bytes so far allow at the minimum rate.
    const auto allowed = std::chrono::duration_cast<Clock::duration>(
        m_transport.settings.headerTimeout + std::chrono::milliseconds(m_bodyReceived * 1000 / minimumBodyRate));
    m_stream.expires_after(allowed > m_bodyWaited ? allowed - m_bodyWaited : Clock::duration::zero());
}

// Straight into the request's body (its length is known and within the limit): what has
// arrived at once, the rest as it comes.
void Connection::readWholeBody()
{
    auto &body = m_parser->get().body();
    body.data = m_request.body.data() + m_bodyReceived;
    body.size = m_request.body.size() - m_bodyReceived;
    body.more = true;
    if (m_buffer.size() > 0) {
        beast::error_code error;
        m_buffer.consume(m_parser->put(m_buffer.data(), error));
        if (error == bhttp::error::need_buffer || error == bhttp::error::need_more)
            error = {};
        if (error)
            return closeNow();
        m_bodyReceived = m_request.body.size() - body.size;
        if (m_parser->is_done())
            return dispatch();
    }
    setBodyDeadline();
    const Clock::time_point waitStart = Clock::now();
    bhttp::async_read_some(m_stream, m_buffer, *m_parser,
                           [self = shared_from_this(), waitStart](beast::error_code error, std::size_t) {
                               self->m_bodyWaited += Clock::now() - waitStart;
                               if (error && error != bhttp::error::need_buffer)
                                   return self->closeNow(); // cut short, too slow: nothing to answer
                               self->m_bodyReceived = self->m_request.body.size() - self->m_parser->get().body().size;
                               if (self->m_parser->is_done())
                                   return self->dispatch();
                               self->readWholeBody();
                           });
}

void Connection::dispatch()
{
    m_state = State::Busy;
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
        if (self->m_parser->is_done()) // it came with the head
            return self->readIntoIntake();
        self->continueIfExpected([self] { self->readIntoIntake(); });
    });
}

// Runs `work` and answers true; when it throws, puts the answer for the failure in `reply`
// (overload: 503; anything else: 500, logged) and answers false. The caller then sends the reply
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

// On the strand: the body of a streamed route into its intake, piece by piece, at the minimum
// rate; the worker is taken again only once the body is whole.
void Connection::readIntoIntake()
{
    if (!m_piece)
        m_piece = std::make_unique<char[]>(pieceSize);
    auto &body = m_parser->get().body();
    const auto emptyPiece = [&body, this] {
        body.data = m_piece.get();
        body.size = pieceSize;
        body.more = true;
    };
    // What has arrived already first.
    while (!m_parser->is_done() && m_buffer.size() > 0) {
        emptyPiece();
        beast::error_code error;
        const std::size_t used = m_parser->put(m_buffer.data(), error);
        m_buffer.consume(used);
        if (error && error != bhttp::error::need_buffer && error != bhttp::error::need_more)
            return refuseBody(error);
        if (!takeIntoIntake(pieceSize - body.size))
            return;
        if (used == 0) // not even a whole chunk head: more must come
            break;
    }
    if (m_parser->is_done())
        return finishIntake();
    emptyPiece();
    setBodyDeadline();
    const Clock::time_point waitStart = Clock::now();
    bhttp::async_read_some(m_stream, m_buffer, *m_parser,
                           [self = shared_from_this(), waitStart](beast::error_code error, std::size_t) {
                               self->m_bodyWaited += Clock::now() - waitStart;
                               if (error && error != bhttp::error::need_buffer)
                                   return self->refuseBody(error);
                               if (!self->takeIntoIntake(pieceSize - self->m_parser->get().body().size))
                                   return;
                               self->readIntoIntake();
                           });
}

// A body that cannot be parsed is a 400 (nothing after it is read); one cut short or too slow
// ends the connection with nothing to answer.
void Connection::refuseBody(beast::error_code error)
{
    m_intake.reset();
    if (!isParseError(error))
        return closeNow();
    answerNow(400, "bad request", true);
}

// The `got` bytes at the start of the piece: false when the request was refused (and answered).
bool Connection::takeIntoIntake(std::size_t got)
{
    m_bodyReceived += got;
    const bool tooLarge = m_bodyReceived > m_intake->limit;
    bool kept = !tooLarge;
    if (kept && got > 0) {
        try {
            kept = m_intake->write(m_piece.get(), got);
        } catch (...) {
            kept = false;
        }
    }
    if (kept)
        return true;
    Reply reply = m_intake->refusal(tooLarge);
    reply.close = true; // the rest of the body is never parsed
    m_intake.reset();
    send(std::move(reply));
    return false;
}

void Connection::finishIntake()
{
    m_state = State::Busy;
    auto work = net::make_work_guard(m_stream.get_executor());
    const bool queued = m_transport.pool.trySubmit([self = shared_from_this(), work, intake = std::move(m_intake)] {
        Reply reply;
        self->guardedRun(self->m_method, self->m_target, reply, [&] { intake->finish(reply); });
        self->send(std::move(reply), true);
    });
    if (!queued)
        answerNow(503, "the server is busy, try again shortly", false, {{"Retry-After", "1"}});
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
    ++m_served;
    const bool bodyUnread = !m_parser || !m_parser->is_done();
    m_closeAfter = reply.close || bodyUnread || !m_parser->keep_alive() || m_served >= m_transport.settings.keepAliveMax
        || m_transport.stopping;

    // No route answers HEAD; its refusal says how long the body would be but sends none.
    const bool headOnly = m_malformed.empty() && m_method == "HEAD";
    const bool bodiless = reply.status < 200 || reply.status == 204 || reply.status == 304 || headOnly;
    const std::size_t size = reply.source ? reply.streamedSize : reply.body.size();
    std::string &out = m_out;
    out.clear();
    out.reserve(160 + (reply.source ? 0 : reply.body.size()));
    out += "HTTP/1.1 ";
    out += std::to_string(reply.status);
    out += ' ';
    out += reasonPhrase(reply.status);
    out += "\r\n";
    if (!reply.contentType.empty() && !bodiless) {
        out += "Content-Type: ";
        out += reply.contentType;
        out += "\r\n";
    }
    if (!bodiless || headOnly) {
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
    m_transport.table.markBusy(m_place);
    m_idleTimer.cancel();
    beast::error_code ignored;
    m_stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    m_stream.close();
    m_piece.reset();
    m_intake.reset(); // and with it what the body was going into
}

} // namespace server::http
