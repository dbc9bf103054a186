// A request's body after its head: read whole into the request (a route that takes a body in
// memory) or streamed piece by piece into the route's intake, at a minimum rate, with a
// 100 Continue first when the client waits for one.

#include "server/http/Connection.h"

#include "server/http/Log.h"
#include "server/http/StrictHead.h"
#include "server/http/WorkerPool.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>

#include <QString>

#include <string>

namespace server::http {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;

namespace {

// A body must arrive at this rate at least (bytes a second), after a grace of the header time-out.
constexpr std::size_t minimumBodyRate = 4096;

std::string tooSlowLine(std::size_t received, std::chrono::steady_clock::duration waited,
                        std::chrono::milliseconds headerTimeout)
{
    const auto ms = [](std::chrono::steady_clock::duration span) {
        return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(span).count());
    };
    return "body too slow: " + std::to_string(received) + " bytes in " + ms(waited) + " ms of waiting; allowed "
        + ms(headerTimeout) + " ms, then " + std::to_string(minimumBodyRate) + " bytes/s; connection closed";
}

} // namespace

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

// The body's next bytes through the parser, within the body's deadline; then `then(self, error)`
// on the strand. The time spent waiting counts against the minimum rate.
template<class Then>
void Connection::awaitBody(Then then)
{
    setBodyDeadline();
    const Clock::time_point waitStart = Clock::now();
    bhttp::async_read_some(m_stream, m_buffer, *m_parser,
                           [self = shared_from_this(), waitStart, then](beast::error_code error, std::size_t) {
                               self->m_bodyWaited += Clock::now() - waitStart;
                               if (error == beast::error::timeout)
                                   logRequestLine(tooSlowLine(self->m_bodyReceived, self->m_bodyWaited,
                                                              self->m_transport.settings.headerTimeout));
                               then(self, error);
                           });
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
        noteBodyProgress();
    }
    awaitBody([](const std::shared_ptr<Connection> &self, beast::error_code error) {
        if (error && error != bhttp::error::need_buffer)
            return self->closeNow(); // cut short, too slow: nothing to answer
        self->m_bodyReceived = self->m_request.body.size() - self->m_parser->get().body().size;
        if (self->m_parser->is_done())
            return self->dispatch();
        self->noteBodyProgress();
        self->readWholeBody();
    });
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
    awaitBody([](const std::shared_ptr<Connection> &self, beast::error_code error) {
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
    noteBodyProgress();
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
    unlist();
    auto work = net::make_work_guard(m_stream.get_executor());
    const bool queued = m_transport.pool.trySubmit([self = shared_from_this(), work, intake = std::move(m_intake)] {
        Reply reply;
        self->guardedRun(self->m_method, self->m_target, reply, [&] { intake->finish(reply); });
        self->send(std::move(reply), true);
    });
    if (!queued)
        answerNow(503, "the server is busy, try again shortly", false, {{"Retry-After", "1"}});
}

} // namespace server::http
