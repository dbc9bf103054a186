#pragma once

#include "server/llm/ChatCompletionsModel.h"
#include "server/llm/Generator.h"

#include <functional>
#include <map>
#include <string>

namespace server {

// The language-model part of the server's configuration. Every key is a flag (--llm-url …), an
// environment variable (CANTORELLA_LLM_URL …) and a config-file key (llm-url = …).
//   llm-url               the API base that "/chat/completions" is appended to; empty: no model
//   llm-model             the model's name as the API knows it
//   llm-key-file          a file of mode 0600 holding the API key (or CANTORELLA_LLM_KEY)
//   llm-json-format       on/off: ask for a JSON object answer (response_format) for cards
//   llm-prompts           the folder of the prompt files
//   llm-max-concurrent    model calls under way at once in one process
//   llm-daily-quota       new generations per user and day
//   llm-cards-budget-ms   time for a cards answer, a repair included
//   llm-story-budget-ms   time for a story answer, a repair included
struct LlmSettings
{
    ChatCompletionsModel::Settings model;
    std::string keyFile;
    std::string promptsFolder;
    GenerationSettings generation;

    bool configured() const { return !model.baseUrl.empty(); }

    // The keys with their defaults and a line of help each, for --help.
    static const std::vector<std::pair<std::string, std::string>> &help();
    // Sets one key; false for a key that is not ours; throws std::invalid_argument for a bad value.
    bool set(const std::string &key, const std::string &value);
    // The API key: CANTORELLA_LLM_KEY, else the key file, which must be a regular file that only
    // its owner can read (mode 0600 or stricter). Throws std::runtime_error otherwise. Empty
    // when neither is given (local servers need none).
    std::string readApiKey(const std::function<std::string(const char *)> &environment) const;
};

} // namespace server
