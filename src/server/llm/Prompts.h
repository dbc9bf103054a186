#pragma once

#include <map>
#include <string>

namespace server {

// The prompt texts, read once at start from versioned files in one folder:
//   cards-v1.txt  cards-repair-v1.txt  story-v1.txt  story-repair-v1.txt
// A template names its inputs as {{name}}; render() fills them in. Changing what a prompt asks
// for means a new file with the next version: the version is part of every cache key, so
// answers to an older prompt are never served for a newer one.
class Prompts
{
public:
    static constexpr const char *cardsVersion = "cards-v1";
    static constexpr const char *storyVersion = "story-v1";

    // Throws std::runtime_error naming the file that is missing or empty.
    static Prompts load(const std::string &folder);
    // Where the prompts are when --llm-prompts names no folder: an installed server's
    // share/cantorella-server/prompts (beside its bin/), else the source tree it was built from.
    static std::string defaultFolder();

    const std::string &cards() const { return m_cards; }
    const std::string &cardsRepair() const { return m_cardsRepair; }
    const std::string &story() const { return m_story; }
    const std::string &storyRepair() const { return m_storyRepair; }

    // Replaces every {{name}} of `values` in one pass (a value that itself holds "{{…}}", as
    // lyrics may, is never expanded again). Unknown names stay as they are.
    static std::string render(const std::string &text, const std::map<std::string, std::string> &values);

private:
    std::string m_cards, m_cardsRepair, m_story, m_storyRepair;
};

} // namespace server
