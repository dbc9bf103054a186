#include "server/llm/Prompts.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace server {

namespace {

std::string readPrompt(const std::string &folder, const std::string &name)
{
    const std::string path = folder + "/" + name + ".txt";
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in || text.str().empty())
        throw std::runtime_error("prompt file missing or empty: " + path);
    return text.str();
}

} // namespace

Prompts Prompts::load(const std::string &folder)
{
    Prompts prompts;
    prompts.m_cards = readPrompt(folder, cardsVersion);
    prompts.m_cardsRepair = readPrompt(folder, "cards-repair-v1");
    prompts.m_story = readPrompt(folder, storyVersion);
    prompts.m_storyRepair = readPrompt(folder, "story-repair-v1");
    return prompts;
}

std::string Prompts::defaultFolder()
{
    // Installed: <prefix>/bin/cantorella-server and <prefix>/share/cantorella-server/prompts. The
    // kernel's link names the program itself, so a symbolic link to it elsewhere still finds them.
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed =
            (resolved.parent_path() / CANTORELLA_SERVER_PROMPTS_FROM_BIN).lexically_normal();
        if (std::filesystem::is_directory(installed, error))
            return installed.string();
    }
    return std::string(CANTORELLA_SERVER_RESOURCES_DIR) + "/prompts";
}

std::string Prompts::render(const std::string &text, const std::map<std::string, std::string> &values)
{
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find("{{", at);
        const std::size_t close = open == std::string::npos ? open : text.find("}}", open + 2);
        if (close == std::string::npos) {
            out.append(text, at, std::string::npos);
            break;
        }
        out.append(text, at, open - at);
        const auto value = values.find(text.substr(open + 2, close - open - 2));
        if (value == values.end())
            out.append(text, open, close + 2 - open);
        else
            out.append(value->second);
        at = close + 2;
    }
    return out;
}

} // namespace server
