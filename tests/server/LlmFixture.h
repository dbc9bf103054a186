#pragma once

// A chat-completions server on loopback that answers from a script, for the language-model
// tests, and a SQLite store in a temporary folder.

#include "LoopbackHttp.h"

#include "platform/JsonWriter.h"
#include "server/store/ServerStore.h"
#include "server/store/StoreFactory.h"

#include <QTemporaryDir>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

// Answers from a script, one entry per call (the last one repeats), or, for a request that names
// a song given to scriptFor(), from that song's own script: concurrent requests for different songs
// get their own answers whatever order they arrive in. A held answer waits until release() (or
// the fake's end). Every request body is kept.
class FakeChatServer
{
public:
    struct Answer
    {
        int status = 200;
        std::string content;  // the message content of a 200 chat answer
        std::string rawBody;  // sent as is instead, when not empty
        int delayMs = 0;
        bool held = false;

        static Answer chat(std::string content) { return {200, std::move(content), {}, 0}; }
        static Answer failure(int code) { return {code, {}, "{\"error\":{\"message\":\"no\"}}", 0}; }
        static Answer raw(std::string body) { return {200, {}, std::move(body), 0}; }
        Answer after(int ms) const
        {
            Answer later = *this;
            later.delayMs = ms;
            return later;
        }
        Answer heldUntilReleased() const
        {
            Answer later = *this;
            later.held = true;
            return later;
        }
    };

    FakeChatServer()
    {
        m_http.server.new_task_queue = [] { return new httplib::ThreadPool(256); };
        m_http.server.Post("/v1/chat/completions", [this](const httplib::Request &request, httplib::Response &response) {
            std::unique_lock lock(m_mutex);
            m_requests.push_back(request.body);
            const Answer answer = next(request.body);
            m_called.notify_all();
            m_released.wait(lock, [&] { return !answer.held || m_releasedAll; });
            lock.unlock();
            m_http.pause(answer.delayMs);
            response.status = answer.status;
            response.set_content(answer.rawBody.empty() ? chatBody(answer.content) : answer.rawBody,
                                 "application/json");
        });
        m_http.start();
    }
    ~FakeChatServer()
    {
        release();
        m_http.stop();
    }

    std::string baseUrl() const { return m_http.url("/v1"); }
    void script(std::vector<Answer> answers)
    {
        std::lock_guard lock(m_mutex);
        m_script.assign(answers.begin(), answers.end());
    }
    // The answers for requests that name `song` (their body contains it).
    void scriptFor(const std::string &song, std::vector<Answer> answers)
    {
        std::lock_guard lock(m_mutex);
        m_songScripts.emplace_back(song, std::deque<Answer>(answers.begin(), answers.end()));
    }
    // Lets every held answer go, now and from now on.
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_releasedAll = true;
        m_released.notify_all();
    }
    // Waits until a request naming `text` has arrived; false after `waitMs`.
    bool waitForCall(const std::string &text, int waitMs = 20000) const
    {
        std::unique_lock lock(m_mutex);
        return m_called.wait_for(lock, std::chrono::milliseconds(waitMs), [&] {
            return std::any_of(m_requests.begin(), m_requests.end(),
                               [&](const std::string &body) { return body.find(text) != std::string::npos; });
        });
    }
    int calls() const
    {
        std::lock_guard lock(m_mutex);
        return int(m_requests.size());
    }
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
    static Answer takeFrom(std::deque<Answer> &script)
    {
        Answer answer = script.empty() ? Answer::failure(500) : script.front();
        if (script.size() > 1)
            script.pop_front();
        return answer;
    }
    Answer next(const std::string &body)
    {
        for (auto &[song, script] : m_songScripts) {
            if (body.find(song) != std::string::npos)
                return takeFrom(script);
        }
        return takeFrom(m_script);
    }

    LoopbackHttp m_http;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_called;
    std::condition_variable m_released;
    bool m_releasedAll = false;
    std::deque<Answer> m_script;
    std::vector<std::pair<std::string, std::deque<Answer>>> m_songScripts;
    std::vector<std::string> m_requests;
};

// The embedded store in a folder removed with it.
struct TemporaryStore
{
    QTemporaryDir folder;
    std::unique_ptr<server::ServerStore> store = server::openServerStore(QString(), folder.path());
};
