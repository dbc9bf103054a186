#include "server/llm/Generator.h"

#include "platform/JsonWriter.h"
#include "server/http/Log.h"
#include "server/store/ServerStore.h"

#include <QDateTime>
#include <QUuid>

#include <QScopeGuard>

#include <thread>

namespace server {

namespace {

constexpr qint64 secondsPerDay = 86400;
// How long a failed generation's answer is given to the requests that waited on it and to
// those that come right after.
constexpr qint64 failureMemorySeconds = 15;

const char *categoryOf(ChatResult::Failure failure)
{
    switch (failure) {
    case ChatResult::Failure::RateLimited:
        return "rate_limit";
    case ChatResult::Failure::Timeout:
        return "timeout";
    default:
        return "upstream_error";
    }
}

QString failureKind(const GenerationTask &task)
{
    return task.kind + QStringLiteral("-failure");
}

qint64 secondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = deadline - std::chrono::steady_clock::now();
    return std::max<qint64>(0, std::chrono::ceil<std::chrono::seconds>(left).count());
}

} // namespace

Reply upstreamFailure(const char *category, const std::string &message)
{
    return {502, JsonWriter::toBytes([&](JsonWriter &json) {
                     json.beginObject().member("error", QString::fromStdString(message));
                     json.member("category", category).endObject();
                 }).toStdString()};
}

Reply plainFailure(int status, const std::string &message)
{
    return {status, JsonWriter::toBytes([&](JsonWriter &json) {
                        json.beginObject().member("error", QString::fromStdString(message)).endObject();
                    }).toStdString()};
}

Generator::Generator(ServerStore &store, LanguageModel *model, GenerationSettings settings, NowSeconds now)
    : m_store(store), m_model(model), m_settings(settings),
      m_now(now ? std::move(now) : NowSeconds([] { return QDateTime::currentSecsSinceEpoch(); }))
{
}

std::optional<Reply> Generator::cachedReply(const GenerationTask &task, qint64 now)
{
    if (auto seeded = m_store.cached(task.kind, task.seedKey, now))
        return Reply{200, std::move(seeded->value)};
    if (auto generated = m_store.cached(task.kind, task.cacheKey, now))
        return Reply{200, std::move(generated->value)};
    // A generation that failed moments ago: its requests, and whoever asks right after, get
    // the same answer rather than a second call to a model that just failed.
    if (auto failure = m_store.cached(failureKind(task), task.cacheKey, now))
        return Reply{502, std::move(failure->value)};
    return std::nullopt;
}

Reply Generator::serve(const GenerationTask &task, const QString &userId)
{
    const auto deadline = Clock::now() + task.budget;
    if (auto cached = cachedReply(task, m_now()))
        return *cached;
    // Not a server outage: the client says the generation failed, not that the server is down
    // (a 503 would), and a retry is up to the user.
    if (!m_model)
        return upstreamFailure("upstream_error", "no language model is configured");

    const QString claimKey = QStringLiteral("generate:") + task.kind + QLatin1Char(':') + task.cacheKey;
    const QString owner = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const qint64 now = m_now();
    // The claim outlives the owner's budget a little, so a crashed owner frees it soon after.
    const qint64 claimExpiry = now + secondsUntil(deadline) + 5;
    if (!m_store.tryClaim(claimKey, owner, now, claimExpiry))
        return waitForOther(task, claimKey, owner, deadline, userId);
    return generateClaimed(task, claimKey, owner, userId, deadline);
}

Reply Generator::waitForOther(const GenerationTask &task, const QString &claimKey, const QString &owner,
                              Clock::time_point deadline, const QString &userId)
{
    while (Clock::now() + m_settings.pollInterval < deadline) {
        std::this_thread::sleep_for(m_settings.pollInterval);
        const qint64 now = m_now();
        if (auto cached = cachedReply(task, now))
            return *cached;
        // The owner gave up or died without an answer: this request takes over.
        if (m_store.tryClaim(claimKey, owner, now, now + secondsUntil(deadline) + 5))
            return generateClaimed(task, claimKey, owner, userId, deadline);
    }
    return upstreamFailure("timeout", "the answer for this song is still being written");
}

Reply Generator::generateClaimed(const GenerationTask &task, const QString &claimKey, const QString &owner,
                                 const QString &userId, Clock::time_point deadline)
{
    // Released on every way out, a database failure included.
    const auto claim = qScopeGuard([&] { m_store.releaseClaim(claimKey, owner); });
    // Another process may have finished between our cache look-up and our claim.
    if (auto cached = cachedReply(task, m_now()))
        return *cached;
    if (!takeCallSlot())
        return upstreamFailure("rate_limit", "too many answers are being written at once");
    const auto slot = qScopeGuard([this] { releaseCallSlot(); });
    const qint64 now = m_now();
    const QString quotaKey = QStringLiteral("generations:") + userId;
    if (m_store.countHit(quotaKey, now - now % secondsPerDay, secondsPerDay) > m_settings.dailyQuota)
        return upstreamFailure("rate_limit", "daily limit of new answers reached");
    Reply reply = generate(task, deadline);
    const qint64 done = m_now();
    if (reply.status == 200)
        m_store.putCached(task.kind, task.cacheKey, reply.body, done, std::nullopt);
    else
        m_store.putCached(failureKind(task), task.cacheKey, reply.body, done, done + failureMemorySeconds);
    return reply;
}

Reply Generator::generate(const GenerationTask &task, Clock::time_point deadline)
{
    const auto started = Clock::now();
    const auto elapsedMs = [&] {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
    };
    const ChatRequest first = task.request();
    std::string answer;
    if (auto failure = callModel(first, deadline, answer))
        return *failure;
    QStringList complaints;
    if (auto body = task.accept(answer, complaints)) {
        logLine(QStringLiteral("%1 written in %2 ms, %3 parts dropped").arg(task.kind).arg(elapsedMs()).arg(complaints.size()));
        return {200, std::move(*body)};
    }
    logLine(QStringLiteral("%1 answer unusable (%2 problems), asking again").arg(task.kind).arg(complaints.size()));
    ChatRequest repair = first;
    repair.messages.push_back({"assistant", answer});
    repair.messages.push_back({"user", task.repairPrompt(complaints)});
    if (auto failure = callModel(repair, deadline, answer))
        return *failure;
    complaints.clear();
    if (auto body = task.accept(answer, complaints)) {
        logLine(QStringLiteral("%1 written after a repair in %2 ms").arg(task.kind).arg(elapsedMs()));
        return {200, std::move(*body)};
    }
    // Counts only: the complaints quote the answer.
    logLine(QStringLiteral("%1 answer unusable twice (%2 problems)").arg(task.kind).arg(complaints.size()));
    return upstreamFailure("upstream_error", "the language model's answer could not be used");
}

std::optional<Reply> Generator::callModel(ChatRequest request, Clock::time_point deadline, std::string &answer)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left < std::chrono::milliseconds(500))
        return upstreamFailure("timeout", "no time left to ask the language model");
    request.timeout = left;
    ChatResult result = m_model->chat(request);
    if (result.failure != ChatResult::Failure::None) {
        logLine(QStringLiteral("language model failed: %1").arg(QString::fromStdString(result.detail)));
        return upstreamFailure(categoryOf(result.failure), "the language model failed");
    }
    answer = std::move(result.text);
    return std::nullopt;
}

bool Generator::takeCallSlot()
{
    std::lock_guard lock(m_callsMutex);
    if (m_calls >= m_settings.maxConcurrentCalls)
        return false;
    ++m_calls;
    return true;
}

void Generator::releaseCallSlot()
{
    std::lock_guard lock(m_callsMutex);
    --m_calls;
}

} // namespace server
