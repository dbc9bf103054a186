#include "server/http/HttpService.h"

#include "server/config/ServerConfig.h"
#include "server/http/Connection.h"
#include "server/http/Log.h"
#include "server/http/WorkerPool.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/executor_work_guard.hpp>

#include <QString>

#include <algorithm>
#include <thread>
#include <vector>

namespace server {

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

// Connections the kernel completes before they are accepted. When more clients than the table holds
// keep reconnecting as they are made room for, this queue stays full and a newcomer's connection
// attempt is dropped, to be tried again a second or more later; a long queue costs it a little
// wait instead (the kernel caps it at net.core.somaxconn).
constexpr int listenBacklog = 4096;
// Requests that may wait for a worker, per worker thread, before the server answers 503.
constexpr std::size_t queuedPerWorker = 4;
// When the process is out of descriptors, accepting pauses this long (the backlog keeps the rest).
constexpr auto acceptPause = std::chrono::milliseconds(50);

// One per core: on a busy machine a server with fewer runnable threads gets less of it.
std::size_t ioThreadCount()
{
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 16);
}

} // namespace

struct HttpService::Private
{
    explicit Private(const ServerConfig &config)
        : contexts(makeContexts())
        , acceptor(*contexts.front())
        , acceptPauseTimer(acceptor.get_executor())
        , pool(std::size_t(config.threads), std::size_t(config.threads) * queuedPerWorker)
        , transport{router, pool, table, settingsOf(config)}
    {
    }

    // One event loop per I/O thread, each connection on one of them for its whole life: its
    // handlers never run on two threads, and a thread waits in its own epoll (no hand-off of
    // events between the threads of one loop).
    static std::vector<std::unique_ptr<net::io_context>> makeContexts()
    {
        std::vector<std::unique_ptr<net::io_context>> made;
        for (std::size_t i = 0; i < ioThreadCount(); ++i)
            made.push_back(std::make_unique<net::io_context>(1));
        return made;
    }

    static http::TransportSettings settingsOf(const ServerConfig &config)
    {
        http::TransportSettings settings;
        settings.headerTimeout = std::chrono::seconds(config.headerTimeoutSeconds);
        settings.keepAliveTimeout = std::chrono::seconds(config.keepAliveTimeoutSeconds);
        settings.writeTimeout = std::chrono::seconds(config.writeTimeoutSeconds);
        settings.keepAliveMax = std::size_t(config.keepAliveMaxCount);
        settings.maxConnections = std::size_t(config.maxConnections);
        settings.maxConnectionsPerAddress = std::size_t(config.maxConnectionsPerAddress);
        return settings;
    }

    void accept()
    {
        net::io_context &next = *contexts[nextContext++ % contexts.size()];
        acceptor.async_accept(next, [this](boost::system::error_code error, tcp::socket socket) {
            if (!acceptor.is_open() || error == net::error::operation_aborted)
                return;
            if (error) {
                // Out of descriptors or memory: the connections waiting in the backlog stay there.
                if (!pausedOnce)
                    logLine(QStringLiteral("accepting paused: %1").arg(QString::fromStdString(error.message())));
                pausedOnce = true;
                acceptPauseTimer.expires_after(acceptPause);
                acceptPauseTimer.async_wait([this](boost::system::error_code waitError) {
                    if (!waitError)
                        accept();
                });
                return;
            }
            admit(std::move(socket));
            accept();
        });
    }

    void admit(tcp::socket socket)
    {
        if (transport.stopping)
            return;
        // Counted by the socket's peer, whatever a proxy says the client is.
        boost::system::error_code error;
        const tcp::endpoint peer = socket.remote_endpoint(error);
        if (error)
            return;
        std::string address = peer.address().to_string();
        const http::ConnectionTable::Admission admission
            = table.admit(address, {transport.settings.maxConnections, transport.settings.maxConnectionsPerAddress});
        if (admission.evicted)
            admission.evicted->makeRoom();
        if (!admission.admitted)
            return;
        std::make_shared<http::Connection>(std::move(socket), std::move(address), transport)->start();
    }

    std::vector<std::unique_ptr<net::io_context>> contexts;
    // Keeps each loop running while it has no connection, until stop().
    std::vector<net::executor_work_guard<net::io_context::executor_type>> running;
    std::size_t nextContext = 0;
    tcp::acceptor acceptor;
    net::steady_timer acceptPauseTimer;
    http::Router router;
    http::ConnectionTable table;
    http::WorkerPool pool;
    http::Transport transport;
    bool pausedOnce = false;
};

HttpService::HttpService(const ServerConfig &config)
    : d(std::make_unique<Private>(config))
{
}

HttpService::~HttpService() = default;

http::Router &HttpService::router()
{
    return d->router;
}

int HttpService::bind(const std::string &host, int port)
{
    boost::system::error_code error;
    tcp::resolver resolver(*d->contexts.front());
    const auto endpoints = resolver.resolve(host, std::to_string(port), tcp::resolver::numeric_service, error);
    if (error || endpoints.empty())
        return -1;
    const tcp::endpoint endpoint = endpoints.begin()->endpoint();
    d->acceptor.open(endpoint.protocol(), error);
    if (!error)
        d->acceptor.set_option(net::socket_base::reuse_address(true), error);
    if (!error)
        d->acceptor.bind(endpoint, error);
    if (!error)
        d->acceptor.listen(listenBacklog, error);
    if (error) {
        d->acceptor.close(error);
        return -1;
    }
    return d->acceptor.local_endpoint(error).port();
}

bool HttpService::serve()
{
    if (!d->acceptor.is_open())
        return false;
    for (const auto &context : d->contexts)
        d->running.push_back(net::make_work_guard(*context));
    net::post(d->acceptor.get_executor(), [this] { d->accept(); });
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < d->contexts.size(); ++i)
        threads.emplace_back([this, i] { d->contexts[i]->run(); });
    d->contexts.front()->run();
    for (std::thread &thread : threads)
        thread.join();
    return true;
}

void HttpService::stop()
{
    net::post(d->acceptor.get_executor(), [this] {
        d->transport.stopping = true;
        boost::system::error_code ignored;
        d->acceptor.close(ignored);
        d->acceptPauseTimer.cancel();
        d->running.clear();
        for (const std::shared_ptr<http::Connection> &connection : d->table.all())
            connection->closeIfWaiting();
    });
}

} // namespace server
