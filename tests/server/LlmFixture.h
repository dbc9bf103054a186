#pragma once

// Test doubles for the language-model code: a scripted chat-completions server on loopback,
// an outgoing-HTTP client for it, and a store that keeps the cache, claims and counters in
// memory.

#include "server/outbound/OutboundHttp.h"
#include "server/store/ServerStore.h"

#include "platform/JsonWriter.h"

#include <httplib.h>

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

// The cache, claims and counters of ServerStore in memory; everything else is not used here.
class MemoryStore final : public server::ServerStore
{
public:
    bool ping() override { return true; }
    std::optional<server::UserRecord> createUser(const QString &, const QByteArray &, bool, qint64) override { unused(); }
    std::optional<server::UserRecord> userByEmail(const QString &) override { unused(); }
    std::optional<server::UserRecord> userById(const QString &) override { unused(); }
    void confirmUser(const QString &) override { unused(); }
    server::SignInRecord createSignIn(const QString &, const QByteArray &, qint64) override { unused(); }
    server::RefreshRotation rotateRefreshToken(const QByteArray &, const QByteArray &, qint64) override { unused(); }
    void revokeSignIn(const QString &, qint64) override { unused(); }
    std::optional<server::SignInRecord> signIn(const QString &) override { unused(); }
    void putOneTimeToken(const QByteArray &, const QString &, qint64) override { unused(); }
    std::optional<QString> takeOneTimeToken(const QByteArray &, qint64) override { unused(); }
    void putBackup(const QString &, const QString &, const std::string &, qint64) override { unused(); }
    std::optional<server::StoredBackup> backup(const QString &, const QString &) override { unused(); }

    qint64 countHit(const QString &key, qint64 windowStart, qint64) override
    {
        std::lock_guard lock(m_mutex);
        return ++m_counts[key + QLatin1Char('@') + QString::number(windowStart)];
    }
    void putCached(const QString &kind, const QString &key, const std::string &value, qint64 now,
                   std::optional<qint64> expiresAt) override
    {
        std::lock_guard lock(m_mutex);
        m_cache[kind + QLatin1Char('\t') + key] = {server::CachedEntry{value, now}, expiresAt};
    }
    std::optional<server::CachedEntry> cached(const QString &kind, const QString &key, qint64 now) override
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_cache.find(kind + QLatin1Char('\t') + key);
        if (found == m_cache.end() || (found->second.second && *found->second.second <= now))
            return std::nullopt;
        return found->second.first;
    }
    bool tryClaim(const QString &key, const QString &owner, qint64 now, qint64 expiresAt) override
    {
        std::lock_guard lock(m_mutex);
        const auto held = m_claims.find(key);
        if (held != m_claims.end() && held->second.first != owner && held->second.second > now)
            return false;
        m_claims[key] = {owner, expiresAt};
        return true;
    }
    void releaseClaim(const QString &key, const QString &owner) override
    {
        std::lock_guard lock(m_mutex);
        if (const auto held = m_claims.find(key); held != m_claims.end() && held->second.first == owner)
            m_claims.erase(held);
    }

private:
    [[noreturn]] static void unused() { throw server::StoreError("not kept by the memory store"); }

    std::mutex m_mutex;
    std::map<QString, qint64> m_counts;
    std::map<QString, std::pair<server::CachedEntry, std::optional<qint64>>> m_cache;
    std::map<QString, std::pair<QString, qint64>> m_claims;
};

// Outgoing HTTP to a loopback address (http only), with the interface's time-out and size rules.
class LoopbackHttp final : public server::OutboundHttp
{
public:
    server::OutboundResponse send(const server::OutboundRequest &request) override
    {
        using Failure = server::OutboundResponse::Failure;
        server::OutboundResponse response;
        const std::string rest = request.url.substr(std::string("http://").size());
        const std::size_t slash = rest.find('/');
        httplib::Client client("http://" + rest.substr(0, slash));
        const auto timeout = std::chrono::milliseconds(request.totalTimeoutMs);
        client.set_connection_timeout(std::chrono::milliseconds(request.connectTimeoutMs));
        client.set_read_timeout(timeout);
        client.set_write_timeout(timeout);
        httplib::Headers headers;
        for (const auto &[name, value] : request.headers)
            headers.emplace(name, value);
        QElapsedTimer elapsed;
        elapsed.start();
        const auto result = client.Post(rest.substr(slash), headers, request.body, "application/json");
        if (!result) {
            response.failure = elapsed.elapsed() + 50 >= request.totalTimeoutMs ? Failure::Timeout : Failure::Network;
            response.error = httplib::to_string(result.error());
        } else if (result->body.size() > request.maxResponseBytes) {
            response.failure = Failure::TooLarge;
        } else {
            response.status = result->status;
            response.body = result->body;
        }
        return response;
    }
};

// A chat-completions server that answers from a script, one entry per call (the last one
// repeats), and keeps every request body.
class FakeChatServer
{
public:
    struct Answer
    {
        int status = 200;
        std::string content;  // the message content of a 200 chat answer
        std::string rawBody;  // sent as is instead, when not empty
        int delayMs = 0;

        static Answer chat(std::string content) { return {200, std::move(content), {}, 0}; }
        static Answer failure(int code) { return {code, {}, "{\"error\":{\"message\":\"no\"}}", 0}; }
        static Answer raw(std::string body) { return {200, {}, std::move(body), 0}; }
        Answer after(int ms) const { Answer a = *this; a.delayMs = ms; return a; }
    };

    FakeChatServer()
    {
        m_http.new_task_queue = [] { return new httplib::ThreadPool(64); };
        m_http.Post("/v1/chat/completions", [this](const httplib::Request &request, httplib::Response &response) {
            Answer answer;
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request.body);
                answer = m_script.empty() ? Answer::failure(500) : m_script.front();
                if (m_script.size() > 1)
                    m_script.pop_front();
            }
            ++m_calls;
            for (int waited = 0; waited < answer.delayMs && !m_stopping; waited += 10)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            response.status = answer.status;
            response.set_content(answer.rawBody.empty() ? chatBody(answer.content) : answer.rawBody,
                                 "application/json");
        });
        m_port = m_http.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_http.listen_after_bind(); });
        while (!m_http.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~FakeChatServer()
    {
        m_stopping = true;
        m_http.stop();
        m_thread.join();
    }

    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/v1"; }
    void script(std::vector<Answer> answers)
    {
        std::lock_guard lock(m_mutex);
        m_script.assign(answers.begin(), answers.end());
    }
    int calls() const { return m_calls; }
    std::vector<std::string> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    static std::string chatBody(const std::string &content)
    {
        return JsonWriter::toBytes([&](JsonWriter &json) {
                   json.beginObject().key("choices").beginArray().beginObject();
                   json.key("message").beginObject().member("role", "assistant");
                   json.member("content", QString::fromStdString(content)).endObject();
                   json.member("finish_reason", "stop").endObject().endArray().endObject();
               })
            .toStdString();
    }

private:
    httplib::Server m_http;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::deque<Answer> m_script;
    std::vector<std::string> m_requests;
    std::atomic<int> m_calls{0};
    std::atomic<bool> m_stopping{false};
};
