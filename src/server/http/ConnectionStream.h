#pragma once

#include <httplib.h>

#include <chrono>
#include <string>

namespace server::http {

// One kept-alive connection as the HTTP library's request parser sees it. Reads come from a
// buffer that one recv() fills (the parser reads a request line a byte at a time); writes are
// gathered and sent together, so a status line, its headers and a small body leave in one
// send(). No poll() precedes each recv() or send(): the socket's own time-outs
// (SO_RCVTIMEO, SO_SNDTIMEO) bound them. Gathered output is sent before any read that has to
// wait for the peer (a "100 Continue" must reach the client before its body is awaited).
class ConnectionStream final : public httplib::Stream
{
public:
    ConnectionStream(int socket, std::chrono::milliseconds readTimeout, std::chrono::milliseconds writeTimeout);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char *ptr, size_t size) override;
    ssize_t write(const char *ptr, size_t size) override;
    void get_remote_ip_and_port(std::string &ip, int &port) const override;
    void get_local_ip_and_port(std::string &ip, int &port) const override;
    socket_t socket() const override { return m_socket; }

    struct Endpoint
    {
        std::string address;
        int port = -1; // -1: not read yet
    };

    // Waits for the next request of the connection: true once bytes are buffered or the
    // socket is readable (a hang-up reads as such and ends the request at once); false after
    // `idle` without any, or once `stopEvent` (an eventfd) is signalled.
    bool awaitRequest(int stopEvent, std::chrono::milliseconds idle) const;
    // Sends what was gathered; false when the peer is gone or the write time-out passed.
    bool flush();

private:
    bool sendAll(const char *data, std::size_t size);

    static constexpr std::size_t inputSize = 16 * 1024;
    // Output gathered past this is sent at once, so a streamed answer never piles up.
    static constexpr std::size_t gatherLimit = 64 * 1024;

    int m_socket;
    std::chrono::milliseconds m_readTimeout;
    std::chrono::milliseconds m_writeTimeout;
    char m_input[inputSize];
    std::size_t m_inputStart = 0;
    std::size_t m_inputEnd = 0;
    std::string m_output;
    bool m_failed = false;
    // Read on first use: the library asks for both ends with every request.
    mutable Endpoint m_peer;
    mutable Endpoint m_local;
};

// The HTTP library's server with its connections served through ConnectionStream, and a
// stop that also ends the connections waiting for their next request at once (not after
// their keep-alive time-out).
class ConnectionServer final : public httplib::Server
{
public:
    ConnectionServer();
    ~ConnectionServer() override;
    ConnectionServer(const ConnectionServer &) = delete;
    ConnectionServer &operator=(const ConnectionServer &) = delete;

    // Stops accepting; requests in flight finish. Any thread.
    void stopServing();

private:
    bool process_and_close_socket(socket_t socket) override;

    int m_stopEvent;
};

} // namespace server::http
