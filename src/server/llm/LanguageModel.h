#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace server {

// One message of a chat with a language model ("system", "user" or "assistant").
struct ChatMessage
{
    std::string role;
    std::string content;
};

struct ChatRequest
{
    std::vector<ChatMessage> messages;
    // Ask the model for one JSON object as its whole answer, where the model supports it.
    bool jsonObject = false;
    // The whole call, connecting included.
    std::chrono::milliseconds timeout{30000};
};

struct ChatResult
{
    enum class Failure {
        None,        // `text` is the model's answer
        RateLimited, // the provider refused for load or quota (HTTP 429)
        Timeout,     // no complete answer within the request's time-out
        Upstream,    // anything else: refused, an error status, an answer that is not a chat answer
    };
    Failure failure = Failure::None;
    std::string text;
    std::string detail; // for logs; never holds the key
};

// A language model the operator chose. Calls block the calling thread and are safe from many
// threads at once.
class LanguageModel
{
public:
    virtual ~LanguageModel() = default;
    virtual ChatResult chat(const ChatRequest &request) = 0;
    // Names the model in cache keys and logs ("llama3.1:8b"): answers of another model are
    // another cache entry.
    virtual std::string name() const = 0;
};

} // namespace server
