#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

// An httplib server on 127.0.0.1 and a free port, serving from its own thread for the life
// of the object: the scripted fake on the far side of an outgoing call.
class LoopbackHttp
{
public:
    httplib::Server server;

    LoopbackHttp() = default;
    LoopbackHttp(const LoopbackHttp &) = delete;
    LoopbackHttp &operator=(const LoopbackHttp &) = delete;
    ~LoopbackHttp() { stop(); }

    // Call after the handlers are set up.
    void start()
    {
        m_port = server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    void stop()
    {
        m_stopping = true;
        if (m_thread.joinable()) {
            server.stop();
            m_thread.join();
        }
    }

    // Handlers that wait check this, so that stopping never waits out their delay.
    bool stopping() const { return m_stopping; }

    // Sleeps up to `ms`, returning early when the server stops.
    void pause(int ms) const
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!m_stopping && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    int port() const { return m_port; }
    std::string url(const std::string &path = {}) const
    {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
};
