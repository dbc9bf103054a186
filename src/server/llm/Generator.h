#pragma once

#include "server/llm/LanguageModel.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace server {

class ServerStore;

// An HTTP answer: status and JSON body.
struct Reply
{
    int status = 200;
    std::string body;
};

// The failure body clients read from a 502: {"error": "…", "category": "rate_limit"}.
Reply upstreamFailure(const char *category, const std::string &message);
// {"error": "…"} with any other status.
Reply plainFailure(int status, const std::string &message);

struct GenerationSettings
{
    int maxConcurrentCalls = 4;  // model calls under way in this process at once
    int dailyQuota = 50;         // new generations per user and UTC day, across processes
    std::chrono::milliseconds cardsBudget{70000}; // the cards client gives up at 75 s
    std::chrono::milliseconds storyBudget{28000}; // the story client gives up at 30 s
    std::chrono::milliseconds pollInterval{200};  // how often a waiting request looks again
};

// One piece of content to generate.
struct GenerationTask
{
    QString kind;     // cache kind: "cards" or "story"
    QString cacheKey; // song key, prompt version and model
    QString seedKey;  // where curated content for the song is cached (the song key)
    std::chrono::milliseconds budget{0};
    // The first request to the model; built only when the answer is not cached.
    std::function<ChatRequest()> request;
    // Turns an answer into the 200 body, or says why it cannot be used.
    std::function<std::optional<std::string>(const std::string &answer, QStringList &complaints)> accept;
    // The follow-up message asking again, given the complaints.
    std::function<std::string(const QStringList &complaints)> repairPrompt;
};

// Answers a content request from the cache, or generates it with the model:
// - a cached answer (curated under seedKey, or generated under cacheKey) is returned at once;
// - without a model: 502 {"error", "category": "upstream_error"};
// - one generation per cache key across every server process (a store claim); requests that
//   find the claim taken wait for its result in the cache, within their own budget;
// - at most maxConcurrentCalls model calls in this process and dailyQuota new generations per
//   user: beyond either, 502 "rate_limit";
// - an answer that cannot be used is asked for again once with the complaints; a second
//   unusable answer is 502 "upstream_error". The repair shares the one budget.
// A failed generation's answer is kept for 15 seconds: the requests that waited on it, and those
// that come right after, get it without another model call.
class Generator
{
public:
    using NowSeconds = std::function<qint64()>;

    Generator(ServerStore &store, LanguageModel *model, GenerationSettings settings, NowSeconds now = {});

    Reply serve(const GenerationTask &task, const QString &userId);
    bool hasModel() const { return m_model != nullptr; }
    const GenerationSettings &settings() const { return m_settings; }

private:
    using Clock = std::chrono::steady_clock;

    std::optional<Reply> cachedReply(const GenerationTask &task, qint64 now);
    Reply waitForOther(const GenerationTask &task, const QString &claimKey, const QString &owner,
                       Clock::time_point deadline, const QString &userId);
    Reply generateClaimed(const GenerationTask &task, const QString &claimKey, const QString &owner,
                          const QString &userId, Clock::time_point deadline);
    Reply generate(const GenerationTask &task, Clock::time_point deadline);
    std::optional<Reply> callModel(ChatRequest request, Clock::time_point deadline, std::string &answer);
    bool takeCallSlot();
    void releaseCallSlot();

    ServerStore &m_store;
    LanguageModel *m_model;
    GenerationSettings m_settings;
    NowSeconds m_now;
    std::mutex m_callsMutex;
    int m_calls = 0;
};

} // namespace server
