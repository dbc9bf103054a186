#include "server/llm/LlmSettings.h"

#include "server/llm/Prompts.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace server {

namespace {

int positive(const std::string &key, const std::string &value)
{
    std::size_t used = 0;
    int number = 0;
    try {
        number = std::stoi(value, &used);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used != value.size() || number <= 0)
        throw std::invalid_argument(key + ": expected a positive whole number, got \"" + value + "\"");
    return number;
}

bool onOff(const std::string &key, const std::string &value)
{
    if (value == "on" || value == "true" || value == "1" || value == "yes")
        return true;
    if (value == "off" || value == "false" || value == "0" || value == "no")
        return false;
    throw std::invalid_argument(key + ": expected on or off, got \"" + value + "\"");
}

} // namespace

const std::vector<std::pair<std::string, std::string>> &LlmSettings::help()
{
    static const std::vector<std::pair<std::string, std::string>> keys = {
        {"llm-url", "chat-completions API base, e.g. http://127.0.0.1:11434/v1 (default: none, no model)"},
        {"llm-model", "the model's name as the API knows it"},
        {"llm-key-file", "file (mode 0600) holding the API key; CANTORELLA_LLM_KEY wins over it"},
        {"llm-json-format", "ask the API for a JSON object answer for cards: on|off (default on)"},
        {"llm-prompts", "folder of the prompt files (default: " + Prompts::defaultFolder() + ")"},
        {"llm-max-concurrent", "model calls under way at once in this process (default 4)"},
        {"llm-daily-quota", "new cards or stories per user and day (default 50)"},
        {"llm-cards-budget-ms", "time for a cards answer, a repair included (default 70000)"},
        {"llm-story-budget-ms", "time for a story answer, a repair included (default 28000)"},
    };
    return keys;
}

bool LlmSettings::set(const std::string &key, const std::string &value)
{
    if (key == "llm-url")
        model.baseUrl = value;
    else if (key == "llm-model")
        model.model = value;
    else if (key == "llm-key-file")
        keyFile = value;
    else if (key == "llm-json-format")
        model.jsonResponseFormat = onOff(key, value);
    else if (key == "llm-prompts")
        promptsFolder = value;
    else if (key == "llm-max-concurrent")
        generation.maxConcurrentCalls = positive(key, value);
    else if (key == "llm-daily-quota")
        generation.dailyQuota = positive(key, value);
    else if (key == "llm-cards-budget-ms")
        generation.cardsBudget = std::chrono::milliseconds(positive(key, value));
    else if (key == "llm-story-budget-ms")
        generation.storyBudget = std::chrono::milliseconds(positive(key, value));
    else
        return false;
    return true;
}

std::string LlmSettings::readApiKey(const std::function<std::string(const char *)> &environment) const
{
    if (std::string key = environment("CANTORELLA_LLM_KEY"); !key.empty())
        return key;
    if (keyFile.empty())
        return {};
    struct stat info = {};
    if (::stat(keyFile.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        throw std::runtime_error("llm-key-file: cannot read " + keyFile);
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        throw std::runtime_error("llm-key-file: " + keyFile + " must be readable by its owner only (chmod 600)");
    std::ifstream in(keyFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string key = text.str();
    while (!key.empty() && (key.back() == '\n' || key.back() == '\r' || key.back() == ' '))
        key.pop_back();
    return key;
}

} // namespace server
