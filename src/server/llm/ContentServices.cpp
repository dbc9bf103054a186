#include "server/llm/ContentServices.h"

#include "platform/JsonWriter.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"
#include "server/content/SongKey.h"
#include "server/llm/CardsValidator.h"
#include "server/llm/StoryValidator.h"

namespace server {

namespace {

std::string complaintLines(const QStringList &complaints)
{
    // The model needs examples of what went wrong, not every instance.
    constexpr int shown = 20;
    QStringList lines;
    for (const QString &complaint : complaints.mid(0, shown))
        lines.append(QStringLiteral("- ") + complaint);
    if (complaints.size() > shown)
        lines.append(QStringLiteral("- … and %1 more like these").arg(complaints.size() - shown));
    return lines.join(QLatin1Char('\n')).toStdString();
}

struct SongRequest
{
    QString title, artist, lyrics, targetLanguage;
};

// Reads the request; throws JsonError for a body the client never sends.
SongRequest readRequest(const std::string &body, bool withLyrics)
{
    const JsonReader json(StrictJson::parseObject(QByteArray::fromStdString(body)));
    SongRequest request;
    request.title = Text::trimmed(json.requireString(u"title"));
    request.artist = Text::trimmed(json.requireString(u"artist"));
    if (withLyrics)
        request.lyrics = json.requireString(u"lyrics");
    request.targetLanguage = json.optionalString(u"targetLanguage").value_or(QStringLiteral("en"));
    if (request.title.isEmpty() || request.artist.isEmpty()
        || (withLyrics && Text::trimmed(request.lyrics).isEmpty()))
        throw JsonError(QStringLiteral("title, artist and lyrics must not be blank"));
    // They go into the prompt; no song has a longer name.
    constexpr qsizetype maximumNameCharacters = 256;
    if (Text::characterCount(request.title) > maximumNameCharacters
        || Text::characterCount(request.artist) > maximumNameCharacters)
        throw JsonError(QStringLiteral("title or artist longer than 256 characters"));
    return request;
}

} // namespace

ContentServices::ContentServices(ServerStore &store, LanguageModel *model, Prompts prompts,
                                 GenerationSettings settings, Generator::NowSeconds now)
    : m_prompts(std::move(prompts)), m_modelName(model ? model->name() : std::string()),
      m_generator(store, model, settings, std::move(now))
{
}

QString ContentServices::cacheKey(const QString &songKey, const char *promptVersion) const
{
    return songKey + QLatin1Char('\n') + QLatin1String(promptVersion) + QLatin1Char('\n')
           + QString::fromStdString(m_modelName);
}

std::string ContentServices::cardsPrompt(const Prompts &prompts, const QString &title, const QString &artist,
                                         const QString &lyrics, const QString &targetLanguage,
                                         const std::string &lineTimes)
{
    return Prompts::render(prompts.cards(), {{"title", title.toStdString()},
                                             {"artist", artist.toStdString()},
                                             {"targetLanguage", targetLanguage.toStdString()},
                                             {"lyrics", lyrics.toStdString()},
                                             {"lineTimes", lineTimes}});
}

Reply ContentServices::cards(const std::string &requestBody, const QString &userId)
{
    SongRequest request;
    try {
        request = readRequest(requestBody, true);
    } catch (const JsonError &error) {
        return plainFailure(400, error.what());
    }
    if (std::size_t(request.lyrics.toUtf8().size()) > maxLyricsBytes)
        return plainFailure(413, "lyrics longer than 64 KiB");

    const QString songKey = songKeyOf(request.title, request.artist);
    // The lyrics are parsed only when the model is asked: a cached answer needs none of this.
    struct Job
    {
        SongRequest request;
        std::optional<CardsValidator> validator;
        const CardsValidator &lyrics()
        {
            if (!validator)
                validator.emplace(request.lyrics);
            return *validator;
        }
    };
    const auto job = std::make_shared<Job>(Job{request, std::nullopt});
    GenerationTask task;
    task.kind = QStringLiteral("cards");
    task.seedKey = songKey;
    task.cacheKey = cacheKey(songKey, Prompts::cardsVersion);
    task.budget = m_generator.settings().cardsBudget;
    task.request = [this, job] {
        ChatRequest chat;
        chat.jsonObject = true;
        const SongRequest &song = job->request;
        chat.messages = {{"user", cardsPrompt(m_prompts, song.title, song.artist, song.lyrics, song.targetLanguage,
                                              job->lyrics().lineTimesText())}};
        return chat;
    };
    task.accept = [job, songKey](const std::string &answer, QStringList &complaints) {
        CardsValidator::Outcome outcome = job->lyrics().validate(answer);
        complaints = outcome.complaints;
        if (outcome.cards.isEmpty())
            return std::optional<std::string>();
        return std::optional<std::string>(JsonWriter::toBytes([&](JsonWriter &json) {
                                              json.beginObject().key("cards").beginArray();
                                              for (const GoldenCard &card : outcome.cards)
                                                  card.writeJson(json);
                                              json.endArray().member("songKey", songKey).endObject();
                                          }).toStdString());
    };
    task.repairPrompt = [this, job](const QStringList &complaints) {
        return Prompts::render(m_prompts.cardsRepair(), {{"complaints", complaintLines(complaints)},
                                                         {"lineTimes", job->lyrics().lineTimesText()}});
    };
    return m_generator.serve(task, userId);
}

Reply ContentServices::story(const std::string &requestBody, const QString &userId)
{
    SongRequest request;
    try {
        request = readRequest(requestBody, false);
    } catch (const JsonError &error) {
        return plainFailure(400, error.what());
    }
    const QString songKey = songKeyOf(request.title, request.artist);
    GenerationTask task;
    task.kind = QStringLiteral("story");
    task.seedKey = songKey;
    task.cacheKey = cacheKey(songKey, Prompts::storyVersion);
    task.budget = m_generator.settings().storyBudget;
    task.request = [this, request] {
        ChatRequest chat;
        chat.messages = {{"user", Prompts::render(m_prompts.story(), {{"title", request.title.toStdString()},
                                                                      {"artist", request.artist.toStdString()}})}};
        return chat;
    };
    task.accept = [songKey](const std::string &answer, QStringList &complaints) {
        StoryCheck check = checkStoryArticle(answer);
        complaints = check.complaints;
        if (check.article.empty())
            return std::optional<std::string>();
        return std::optional<std::string>(JsonWriter::toBytes([&](JsonWriter &json) {
                                              json.beginObject().member("article", QString::fromStdString(check.article));
                                              json.member("songKey", songKey).endObject();
                                          }).toStdString());
    };
    task.repairPrompt = [this](const QStringList &complaints) {
        return Prompts::render(m_prompts.storyRepair(), {{"complaints", complaintLines(complaints)}});
    };
    return m_generator.serve(task, userId);
}

} // namespace server
