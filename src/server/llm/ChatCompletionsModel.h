#pragma once

#include "server/llm/LanguageModel.h"
#include "server/outbound/OutboundHttp.h"

#include <string>

namespace server {

// A model behind the chat-completions API that hosted services and local servers (llama.cpp's
// server, Ollama, vLLM) all speak: POST <baseUrl>/chat/completions with
//   {"model": …, "messages": [{"role": …, "content": …}, …], "temperature": 0.2,
//    "response_format": {"type": "json_object"}}   (the last only when asked for and enabled)
// and the answer's choices[0].message.content is the text.
class ChatCompletionsModel final : public LanguageModel
{
public:
    struct Settings
    {
        std::string baseUrl;   // "http://127.0.0.1:11434/v1"; a trailing '/' is ignored
        std::string model;     // sent as "model"
        std::string apiKey;    // sent as "Authorization: Bearer …" when not empty; never logged
        // Some local servers refuse "response_format"; the operator can switch it off.
        bool jsonResponseFormat = true;
        // A chat answer is a few kilobytes; anything far larger is refused, not parsed.
        std::size_t maxAnswerBytes = 1024 * 1024;
    };

    ChatCompletionsModel(OutboundHttp &http, Settings settings);

    ChatResult chat(const ChatRequest &request) override;
    std::string name() const override { return m_settings.model; }

    // The request body for `request` (exposed for the logs of tests and for the closing note).
    std::string requestBody(const ChatRequest &request) const;

private:
    OutboundHttp &m_http;
    Settings m_settings;
    std::string m_endpoint;
};

} // namespace server
