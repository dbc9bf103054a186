// A connection between requests and while its request's head arrives: the wait for the first
// bytes, the strict parse of the head within its deadline, and the verdict on it (which route,
// whether its body may come).

#include "server/http/Connection.h"

#include "server/http/StrictHead.h"

#include <boost/asio/post.hpp>
#include <boost/beast/http/read.hpp>

#include <limits>

namespace server::http {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;

namespace {

// A request head (request line and header fields) longer than this is refused (431).
constexpr std::uint32_t headerLimit = 32 * 1024;
// What one read of a request head asks for.
constexpr std::size_t readSize = 4096;

} // namespace

// Waits for the first bytes of the next request without holding a parser or a buffer from the
// heap: a connection kept alive between requests costs its socket and a few kilobytes.
void Connection::waitForRequest()
{
    if (m_transport.stopping)
        return closeNow();
    m_state = State::Waiting;
    // From now until its body's first byte the connection may be closed to make room (see ConnectionTable).
    listAsWaiting();
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
    // Every way on from here but the wait for a body leaves the table's lists (see unlist()): a
    // whole head whose body has not begun is no further than one still arriving.
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
    m_place.received.store(0, std::memory_order_relaxed);
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

} // namespace server::http
