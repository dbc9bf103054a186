#include "server/http/ConnectionStream.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace server::http {
namespace {

int pollFor(int socket, short events, std::chrono::milliseconds timeout)
{
    pollfd entry{socket, events, 0};
    int ready;
    do
        ready = ::poll(&entry, 1, int(timeout.count()));
    while (ready < 0 && errno == EINTR);
    return ready;
}

// The numeric address and port of one end of a socket (getpeername or getsockname); port 0 and
// no address when it cannot be read.
ConnectionStream::Endpoint endpointOf(int socket, int (*name)(int, sockaddr *, socklen_t *))
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    char host[NI_MAXHOST];
    char service[NI_MAXSERV];
    if (name(socket, reinterpret_cast<sockaddr *>(&address), &length) != 0
        || ::getnameinfo(reinterpret_cast<const sockaddr *>(&address), length, host, sizeof host, service,
                         sizeof service, NI_NUMERICHOST | NI_NUMERICSERV)
               != 0)
        return {std::string(), 0};
    return {host, std::atoi(service)};
}

timeval timevalOf(std::chrono::milliseconds duration)
{
    return timeval{time_t(duration.count() / 1000), suseconds_t(duration.count() % 1000 * 1000)};
}

std::chrono::milliseconds millisecondsOf(time_t seconds, time_t microseconds)
{
    return std::chrono::milliseconds(seconds * 1000 + microseconds / 1000);
}

} // namespace

ConnectionStream::ConnectionStream(int socket, std::chrono::milliseconds readTimeout,
                                   std::chrono::milliseconds writeTimeout)
    : m_socket(socket)
    , m_readTimeout(readTimeout)
    , m_writeTimeout(writeTimeout)
{
}

bool ConnectionStream::is_readable() const
{
    return m_inputStart < m_inputEnd || pollFor(m_socket, POLLIN, m_readTimeout) > 0;
}

bool ConnectionStream::is_writable() const
{
    return !m_failed && pollFor(m_socket, POLLOUT, m_writeTimeout) > 0;
}

ssize_t ConnectionStream::read(char *ptr, size_t size)
{
    // The request line and headers are read a byte at a time: that path stays short.
    if (size == 1 && m_inputStart < m_inputEnd) {
        *ptr = m_input[m_inputStart++];
        return 1;
    }
    if (m_inputStart == m_inputEnd) {
        if (!flush())
            return -1;
        // A large read goes straight into the caller's buffer.
        const bool direct = size >= inputSize;
        ssize_t received;
        do
            received = ::recv(m_socket, direct ? ptr : m_input, direct ? size : inputSize, 0);
        while (received < 0 && errno == EINTR);
        if (received <= 0 || direct)
            return received;
        m_inputStart = 0;
        m_inputEnd = std::size_t(received);
    }
    const std::size_t taken = std::min(size, m_inputEnd - m_inputStart);
    std::memcpy(ptr, m_input + m_inputStart, taken);
    m_inputStart += taken;
    return ssize_t(taken);
}

ssize_t ConnectionStream::write(const char *ptr, size_t size)
{
    if (m_failed)
        return -1;
    if (m_output.size() + size > gatherLimit) {
        if (!flush())
            return -1;
        if (size >= gatherLimit)
            return sendAll(ptr, size) ? ssize_t(size) : -1;
    }
    m_output.append(ptr, size);
    return ssize_t(size);
}

bool ConnectionStream::flush()
{
    if (m_output.empty())
        return !m_failed;
    const bool sent = sendAll(m_output.data(), m_output.size());
    m_output.clear();
    return sent;
}

bool ConnectionStream::sendAll(const char *data, std::size_t size)
{
    while (size > 0 && !m_failed) {
        const ssize_t sent = ::send(m_socket, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0) {
            // A peer gone, or the write time-out passed (EAGAIN): the connection is done.
            m_failed = true;
            break;
        }
        data += sent;
        size -= std::size_t(sent);
    }
    return !m_failed;
}

bool ConnectionStream::awaitRequest(int stopEvent, std::chrono::milliseconds idle) const
{
    if (m_inputStart < m_inputEnd)
        return true;
    pollfd entries[2] = {{m_socket, POLLIN, 0}, {stopEvent, POLLIN, 0}};
    int ready;
    do
        ready = ::poll(entries, 2, int(idle.count()));
    while (ready < 0 && errno == EINTR);
    return ready > 0 && entries[1].revents == 0 && entries[0].revents != 0;
}

void ConnectionStream::get_remote_ip_and_port(std::string &ip, int &port) const
{
    // Asked for every request; a connection's ends never change.
    if (m_peer.port < 0)
        m_peer = endpointOf(m_socket, ::getpeername);
    ip = m_peer.address;
    port = m_peer.port;
}

void ConnectionStream::get_local_ip_and_port(std::string &ip, int &port) const
{
    if (m_local.port < 0)
        m_local = endpointOf(m_socket, ::getsockname);
    ip = m_local.address;
    port = m_local.port;
}

ConnectionServer::ConnectionServer()
    : m_stopEvent(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

ConnectionServer::~ConnectionServer()
{
    if (m_stopEvent >= 0)
        ::close(m_stopEvent);
}

void ConnectionServer::stopServing()
{
    stop();
    // Never read: stays readable, so every waiting connection (and any later one) sees it.
    const std::uint64_t one = 1;
    if (m_stopEvent >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(m_stopEvent, &one, sizeof one);
    }
}

bool ConnectionServer::process_and_close_socket(socket_t socket)
{
    const std::chrono::milliseconds readTimeout = millisecondsOf(read_timeout_sec_, read_timeout_usec_);
    const std::chrono::milliseconds writeTimeout = millisecondsOf(write_timeout_sec_, write_timeout_usec_);
    const timeval receiveLimit = timevalOf(readTimeout);
    const timeval sendLimit = timevalOf(writeTimeout);
    const int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &receiveLimit, sizeof receiveLimit);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    ConnectionStream stream(socket, readTimeout, writeTimeout);
    const std::chrono::milliseconds idle(keep_alive_timeout_sec_ * 1000);
    bool served = false;
    for (std::size_t left = keep_alive_max_count_; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
        if (!stream.awaitRequest(m_stopEvent, idle))
            break;
        bool closed = false;
        served = process_request(stream, left == 1, closed, nullptr);
        served = stream.flush() && served;
        if (!served || closed)
            break;
    }
    ::shutdown(socket, SHUT_RDWR);
    ::close(socket);
    return served;
}

} // namespace server::http
