#include "server/llm/ChatCompletionsModel.h"

#include "platform/JsonWriter.h"
#include "platform/StrictJson.h"

namespace server {

namespace {

ChatResult failed(ChatResult::Failure failure, std::string detail)
{
    ChatResult result;
    result.failure = failure;
    result.detail = std::move(detail);
    return result;
}

// The first choice's message content. Throws JsonError when the answer is not a chat answer.
std::string contentOf(const std::string &body)
{
    const QJsonObject answer = StrictJson::parseObject(QByteArray::fromStdString(body));
    const QJsonArray choices = JsonReader(answer).requireArray(u"choices");
    if (choices.isEmpty() || !choices.first().isObject())
        throw JsonError(QStringLiteral("choices: no first choice"));
    const JsonReader choice(choices.first().toObject(), QStringLiteral("choices[0]"));
    return choice.requireReader(u"message").requireString(u"content").toStdString();
}

} // namespace

ChatCompletionsModel::ChatCompletionsModel(OutboundHttp &http, Settings settings)
    : m_http(http), m_settings(std::move(settings))
{
    std::string base = m_settings.baseUrl;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    m_endpoint = base + "/chat/completions";
}

std::string ChatCompletionsModel::requestBody(const ChatRequest &request) const
{
    return JsonWriter::toBytes([&](JsonWriter &json) {
               json.beginObject();
               json.member("model", QString::fromStdString(m_settings.model));
               json.key("messages").beginArray();
               for (const ChatMessage &message : request.messages) {
                   json.beginObject();
                   json.member("role", QString::fromStdString(message.role));
                   json.member("content", QString::fromStdString(message.content));
                   json.endObject();
               }
               json.endArray();
               // Low: the answers are checked against the lyrics, invention is what we do not want.
               json.member("temperature", 0.2);
               if (request.jsonObject && m_settings.jsonResponseFormat) {
                   json.key("response_format").beginObject();
                   json.member("type", "json_object");
                   json.endObject();
               }
               json.endObject();
           })
        .toStdString();
}

ChatResult ChatCompletionsModel::chat(const ChatRequest &request)
{
    OutboundRequest out;
    out.method = "POST";
    out.url = m_endpoint;
    out.headers = {{"Content-Type", "application/json"}, {"Accept", "application/json"}};
    if (!m_settings.apiKey.empty())
        out.headers.emplace_back("Authorization", "Bearer " + m_settings.apiKey);
    out.body = requestBody(request);
    out.totalTimeoutMs = long(std::max<std::int64_t>(1, request.timeout.count()));
    out.connectTimeoutMs = std::min<long>(out.totalTimeoutMs, 5000);
    out.maxResponseBytes = m_settings.maxAnswerBytes;

    const OutboundResponse response = m_http.send(out);
    switch (response.failure) {
    case OutboundResponse::Failure::None:
        break;
    case OutboundResponse::Failure::Timeout:
        return failed(ChatResult::Failure::Timeout, "no answer in time: " + response.error);
    case OutboundResponse::Failure::TooLarge:
        return failed(ChatResult::Failure::Upstream, "answer larger than the limit");
    case OutboundResponse::Failure::Redirect:
        return failed(ChatResult::Failure::Upstream, "redirected (the API base is wrong?)");
    case OutboundResponse::Failure::Network:
        return failed(ChatResult::Failure::Upstream, "unreachable: " + response.error);
    }
    if (response.status == 429)
        return failed(ChatResult::Failure::RateLimited, "HTTP 429");
    if (response.status != 200)
        return failed(ChatResult::Failure::Upstream, "HTTP " + std::to_string(response.status));
    try {
        ChatResult result;
        result.text = contentOf(response.body);
        return result;
    } catch (const JsonError &error) {
        return failed(ChatResult::Failure::Upstream, std::string("not a chat answer: ") + error.what());
    }
}

} // namespace server
