#pragma once

#include "server/llm/Generator.h"
#include "server/llm/Prompts.h"

#include <string>

namespace server {

class ServerStore;

// POST /api/cards and POST /api/story, apart from HTTP: request body in, status and body out.
//   cards: {"title", "artist", "lyrics", "targetLanguage"?} → {"cards": [...], "songKey"}
//   story: {"title", "artist", "targetLanguage"?}           → {"article", "songKey"}
// Both are cached per song key (artist and title trimmed and lower-cased), prompt version and
// model; curated answers seeded under the bare song key win over generated ones.
class ContentServices
{
public:
    // The LRC text given to the model; longer lyrics are refused with 413.
    static constexpr std::size_t maxLyricsBytes = 64 * 1024;

    // `model` may be null: then only cached songs answer, every other one 502 (upstream_error).
    ContentServices(ServerStore &store, LanguageModel *model, Prompts prompts, GenerationSettings settings,
                    Generator::NowSeconds now = {});
    virtual ~ContentServices() = default;

    Reply cards(const std::string &requestBody, const QString &userId);
    Reply story(const std::string &requestBody, const QString &userId);

    // The first chat message for a cards request (what the model is asked); `lineTimes` as
    // CardsValidator::lineTimesText() gives them for the lyrics.
    static std::string cardsPrompt(const Prompts &prompts, const QString &title, const QString &artist,
                                   const QString &lyrics, const QString &targetLanguage, const std::string &lineTimes);

private:
    QString cacheKey(const QString &songKey, const char *promptVersion) const;

    Prompts m_prompts;
    std::string m_modelName;
    Generator m_generator;
};

} // namespace server
