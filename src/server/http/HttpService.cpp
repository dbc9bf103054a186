#include "server/http/HttpService.h"

#include "server/config/ServerConfig.h"
#include "server/http/Log.h"
#include "server/http/Replies.h"

#include <chrono>

namespace server {
namespace {

using Clock = std::chrono::steady_clock;

// The start of the request the current thread is answering (a thread answers one at a time).
thread_local Clock::time_point requestStart;

QString loggedTarget(const http::Router &router, const httplib::Request &request)
{
    // Only known routes are named: an unknown path is whatever the client sent.
    if (!router.knows(request.path))
        return QStringLiteral("(unknown path)");
    QString target = QString::fromStdString(request.path);
    char separator = '?';
    for (const std::string &name : http::queryNames(request)) {
        // Names of our own routes' parameters only; anything else is client text.
        const bool known = name == "namespace" || name == "grant_type" || name == "type" || name == "token";
        target += QLatin1Char(separator) + (known ? QString::fromStdString(name) : QStringLiteral("…"));
        separator = '&';
    }
    return target;
}

} // namespace

HttpService::HttpService(const ServerConfig &config)
    : m_router(m_server)
{
    const auto threads = std::size_t(config.threads);
    m_server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    m_server.set_read_timeout(config.readTimeoutSeconds, 0);
    m_server.set_write_timeout(config.writeTimeoutSeconds, 0);
    m_server.set_keep_alive_max_count(std::size_t(config.keepAliveMaxCount));
    m_server.set_keep_alive_timeout(config.keepAliveTimeoutSeconds);
    m_server.set_tcp_nodelay(true);

    m_server.set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
        requestStart = Clock::now();
        const std::optional<http::Router::Limit> limit = m_router.limit(request.method, request.path);
        if (!limit) {
            // Answered here, so that no body of an unknown route is ever read.
            if (request.has_header("Content-Length") || request.has_header("Transfer-Encoding"))
                response.set_header("Connection", "close");
            const bool knownPath = m_router.knows(request.path);
            http::sendError(response, knownPath ? 405 : 404,
                            {{"error", QString::fromLatin1(knownPath ? "method not allowed" : "not found")}});
            return httplib::Server::HandlerResponse::Handled;
        }
        // Streamed routes judge their bodies themselves (see BackupRoutes).
        if (limit->streamed)
            return httplib::Server::HandlerResponse::Unhandled;
        const bool chunked = request.get_header_value("Transfer-Encoding").find("chunked") != std::string::npos;
        const std::optional<std::size_t> length = http::contentLength(request);
        if (length && *length > limit->maxBodyBytes) {
            // The body stays unread; the connection cannot be reused after it.
            response.set_header("Connection", "close");
            http::sendError(response, 413, {{"error", QStringLiteral("request body too large")}});
            return httplib::Server::HandlerResponse::Handled;
        }
        if ((!length && chunked) || (request.has_header("Content-Length") && !length)) {
            response.set_header("Connection", "close");
            http::sendError(response, 411, {{"error", QStringLiteral("a valid Content-Length is required")}});
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
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
        http::sendError(response, 500, {{"error", QStringLiteral("internal error")}});
    });

    m_server.set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (response.body.empty()) {
            const char *text = response.status == 404 ? "not found"
                : response.status == 405              ? "method not allowed"
                : response.status == 413              ? "request body too large"
                                                      : "bad request";
            http::sendError(response, response.status, {{"error", QString::fromLatin1(text)}});
        }
    });

    m_server.set_logger([this](const httplib::Request &request, const httplib::Response &response) {
        const auto elapsed = requestStart == Clock::time_point() ? Clock::duration::zero() : Clock::now() - requestStart;
        requestStart = Clock::time_point();
        const std::size_t bytes = response.body.empty() ? response.content_length_ : response.body.size();
        logLine(QStringLiteral("%1 %2 %3 %4ms %5B")
                    .arg(QString::fromStdString(request.method), loggedTarget(m_router, request))
                    .arg(response.status)
                    .arg(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count())
                    .arg(bytes));
    });
}

int HttpService::bind(const std::string &host, int port)
{
    if (port == 0)
        return m_server.bind_to_any_port(host);
    return m_server.bind_to_port(host, port) ? port : -1;
}

bool HttpService::serve()
{
    // Routes check their own limits; this bounds what the library would read for any of them.
    m_server.set_payload_max_length(m_router.largestLimit() + http::drainBytes);
    return m_server.listen_after_bind();
}

} // namespace server
