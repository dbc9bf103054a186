#pragma once

// A chat-completions server on loopback that answers from a script, for the language-model
// tests, and a SQLite store in a temporary folder.

#include "LoopbackHttp.h"

#include "platform/JsonWriter.h"
#include "server/store/ServerStore.h"
#include "server/store/StoreFactory.h"

#include <QTemporaryDir>

#include <deque>
#include <mutex>
#include <vector>

// One script entry per call (the last one repeats); every request body is kept.
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
        Answer after(int ms) const
        {
            Answer later = *this;
            later.delayMs = ms;
            return later;
        }
    };

    FakeChatServer()
    {
        m_http.server.new_task_queue = [] { return new httplib::ThreadPool(256); };
        m_http.server.Post("/v1/chat/completions", [this](const httplib::Request &request, httplib::Response &response) {
            Answer answer;
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request.body);
                answer = m_script.empty() ? Answer::failure(500) : m_script.front();
                if (m_script.size() > 1)
                    m_script.pop_front();
            }
            m_http.pause(answer.delayMs);
            response.status = answer.status;
            response.set_content(answer.rawBody.empty() ? chatBody(answer.content) : answer.rawBody,
                                 "application/json");
        });
        m_http.start();
    }

    std::string baseUrl() const { return m_http.url("/v1"); }
    void script(std::vector<Answer> answers)
    {
        std::lock_guard lock(m_mutex);
        m_script.assign(answers.begin(), answers.end());
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
    LoopbackHttp m_http;
    mutable std::mutex m_mutex;
    std::deque<Answer> m_script;
    std::vector<std::string> m_requests;
};

// The embedded store in a folder removed with it.
struct TemporaryStore
{
    QTemporaryDir folder;
    std::unique_ptr<server::ServerStore> store = server::openServerStore(QString(), folder.path());
};
