#include "server/http/HttpService.h"

#include "server/config/ServerConfig.h"
#include "server/http/Log.h"
#include "server/http/Replies.h"

#include <chrono>
#include <string>
#include <string_view>

#include <sys/socket.h>

namespace server {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int listenBacklog = 1024;

// The start of the request the current thread is answering (a thread answers one at a time).
thread_local Clock::time_point requestStart;

http::Request toRequest(const httplib::Request &request);

// The route and the names of its query parameters ("/api/backup?namespace"), never a value.
void appendLoggedTarget(std::string &line, const http::Router &router, const httplib::Request &request)
{
    // Only known routes are named: an unknown path is whatever the client sent.
    if (!router.knows(request.path)) {
        line += "(unknown path)";
        return;
    }
    line += request.path;
    char separator = '?';
    for (const std::string &name : http::queryNames(toRequest(request))) {
        // Names of our own routes' parameters only; anything else is client text.
        const bool known = name == "namespace" || name == "grant_type" || name == "type" || name == "token";
        line += separator;
        line += known ? std::string_view(name) : std::string_view("\xE2\x80\xA6"); // "…"
        separator = '&';
    }
}

http::Request toRequest(const httplib::Request &request)
{
    http::Request converted;
    converted.method = request.method;
    converted.target = request.target;
    converted.path = request.path;
    converted.headers.reserve(request.headers.size());
    for (const auto &[name, value] : request.headers)
        converted.headers.push_back({name, value});
    converted.body = request.body;
    converted.remoteAddress = request.remote_addr;
    return converted;
}

void toResponse(http::Reply &reply, httplib::Response &response)
{
    response.status = reply.status;
    for (const http::Header &header : reply.headers)
        response.set_header(header.name, header.value);
    if (reply.close)
        response.set_header("Connection", "close");
    if (reply.source) {
        response.set_content_provider(reply.streamedSize, reply.contentType,
                                      [source = std::move(reply.source)](std::size_t, std::size_t length, httplib::DataSink &sink) {
                                          std::string buffer(std::min<std::size_t>(length, 1 << 20), '\0');
                                          const std::size_t filled = source(buffer.data(), buffer.size());
                                          return filled > 0 && sink.write(buffer.data(), filled);
                                      });
    } else if (!reply.body.empty() || !reply.contentType.empty()) {
        response.set_content(std::move(reply.body), reply.contentType);
    }
}

} // namespace

HttpService::HttpService(const ServerConfig &config)
{
    const auto threads = std::size_t(config.threads);
    m_server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    m_server.set_read_timeout(config.readTimeoutSeconds, 0);
    m_server.set_write_timeout(config.writeTimeoutSeconds, 0);
    m_server.set_keep_alive_max_count(std::size_t(config.keepAliveMaxCount));
    m_server.set_keep_alive_timeout(config.keepAliveTimeoutSeconds);
    m_server.set_tcp_nodelay(true);
    // The library's own options for the listening socket, and its descriptor for bind() below.
    m_server.set_socket_options([this](socket_t socket) {
        httplib::default_socket_options(socket);
        m_listening = socket;
    });

    m_server.set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
        requestStart = Clock::now();
        const http::Router::Route *limit = m_router.find(request.method, request.path);
        if (!limit) {
            // Answered here, so that no body of an unknown route is ever read.
            if (request.has_header("Content-Length") || request.has_header("Transfer-Encoding"))
                response.set_header("Connection", "close");
            const bool knownPath = m_router.knows(request.path);
            http::Reply reply;
            http::sendError(reply, knownPath ? 405 : 404,
                            {{"error", QString::fromLatin1(knownPath ? "method not allowed" : "not found")}});
            toResponse(reply, response);
            return httplib::Server::HandlerResponse::Handled;
        }
        // Streamed routes judge their bodies themselves (see BackupRoutes).
        if (limit->streamed)
            return httplib::Server::HandlerResponse::Unhandled;
        const bool chunked = request.get_header_value("Transfer-Encoding").find("chunked") != std::string::npos;
        const std::optional<std::size_t> length = http::contentLength(toRequest(request));
        if (length && *length > limit->maxBodyBytes) {
            // The body stays unread; the connection cannot be reused after it.
            http::Reply reply;
            reply.close = true;
            http::sendError(reply, 413, {{"error", QStringLiteral("request body too large")}});
            toResponse(reply, response);
            return httplib::Server::HandlerResponse::Handled;
        }
        // Without a length or chunks the HTTP library would read a body until the client hangs up
        // (a POST sent as `curl -X POST` waited out the read time-out): refused at once instead.
        const bool bodyMethod = request.method == "POST" || request.method == "PUT" || request.method == "PATCH";
        if (!length && (chunked || request.has_header("Content-Length") || bodyMethod)) {
            http::Reply reply;
            reply.close = true;
            http::sendError(reply, 411, {{"error", QStringLiteral("a valid Content-Length is required")}});
            toResponse(reply, response);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    const auto dispatch = [this](const httplib::Request &request, httplib::Response &response) {
        // The pre-routing handler answered every method and path without a route already.
        const http::Router::Route *route = m_router.find(request.method, request.path);
        http::Reply reply;
        if (!route || !route->handler)
            reply.status = 404;
        else
            route->handler(toRequest(request), reply);
        toResponse(reply, response);
    };
    m_server.Get(".*", dispatch);
    m_server.Post(".*", dispatch);
    m_server.Put(".*", [this](const httplib::Request &request, httplib::Response &response, const httplib::ContentReader &reader) {
        const http::Router::Route *route = m_router.find(request.method, request.path);
        http::Reply reply;
        if (!route || !route->streamedHandler) {
            reply.status = 404;
        } else {
            const http::BodyReader bodyReader = [&reader](const http::BodyConsumer &consume) {
                return reader([&consume](const char *data, std::size_t size) { return consume(data, size); });
            };
            route->streamedHandler(toRequest(request), reply, bodyReader);
        }
        toResponse(reply, response);
    });

    m_server.set_exception_handler([](const httplib::Request &request, httplib::Response &response, std::exception_ptr error) {
        QString what = QStringLiteral("unknown error");
        try {
            std::rethrow_exception(error);
        } catch (const std::exception &e) {
            what = QString::fromUtf8(e.what());
        } catch (...) {
        }
        logLine(QStringLiteral("error: %1 %2 failed: %3").arg(QString::fromStdString(request.method),
                                                             QString::fromStdString(request.path), what));
        http::Reply reply;
        http::sendError(reply, 500, {{"error", QStringLiteral("internal error")}});
        toResponse(reply, response);
    });

    m_server.set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (response.body.empty()) {
            const char *text = response.status == 404 ? "not found"
                : response.status == 405              ? "method not allowed"
                : response.status == 413              ? "request body too large"
                                                      : "bad request";
            http::Reply reply;
            http::sendError(reply, response.status, {{"error", QString::fromLatin1(text)}});
            toResponse(reply, response);
        }
    });

    m_server.set_logger([this](const httplib::Request &request, const httplib::Response &response) {
        const auto elapsed = requestStart == Clock::time_point() ? Clock::duration::zero() : Clock::now() - requestStart;
        requestStart = Clock::time_point();
        const std::size_t bytes = response.body.empty() ? response.content_length_ : response.body.size();
        // "GET /api/backup?namespace 200 3ms 1234B"
        std::string line;
        line.reserve(96);
        line += request.method;
        line += ' ';
        appendLoggedTarget(line, m_router, request);
        line += ' ';
        line += std::to_string(response.status);
        line += ' ';
        line += std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
        line += "ms ";
        line += std::to_string(bytes);
        line += 'B';
        logRequestLine(line);
    });
}

int HttpService::bind(const std::string &host, int port)
{
    const int bound = port == 0 ? m_server.bind_to_any_port(host) : (m_server.bind_to_port(host, port) ? port : -1);
    // The library listens with a backlog of 5 (fixed when it was built): a burst of new
    // connections (clients opening their pools, kept-alive connections renewed at their
    // request limit) overflows it, and each dropped connection attempt waits a second for its
    // retransmit. Listening again on the socket only changes the backlog (the system caps it
    // at net.core.somaxconn).
    if (bound > 0 && m_listening != INVALID_SOCKET)
        ::listen(m_listening, listenBacklog);
    return bound;
}

bool HttpService::serve()
{
    // Routes check their own limits; this bounds what the library would read for any of them.
    m_server.set_payload_max_length(m_router.largestLimit() + http::drainBytes);
    return m_server.listen_after_bind();
}

} // namespace server
