#include "server/llm/GenerationRoutes.h"

#include "server/config/Secrets.h"
#include "server/config/ServerConfig.h"
#include "server/http/Log.h"
#include "server/http/Replies.h"
#include "server/http/Router.h"
#include "server/http/ServerContext.h"
#include "server/llm/ChatCompletionsModel.h"
#include "server/llm/ContentServices.h"
#include "server/outbound/CurlHttp.h"

#include <QUrl>

namespace server {

namespace {

// 64 KiB of lyrics with room for their JSON escapes, title and artist.
constexpr std::size_t generationBodyLimit = 4 * ContentServices::maxLyricsBytes;

// The model and the HTTP client it calls through live as long as the services.
class ModelServices final : public ContentServices
{
public:
    ModelServices(ServerStore &store, std::unique_ptr<CurlHttp> http, std::unique_ptr<LanguageModel> model,
                  Prompts prompts, GenerationSettings settings)
        : ContentServices(store, model.get(), std::move(prompts), settings), m_http(std::move(http)),
          m_model(std::move(model))
    {
    }

private:
    std::unique_ptr<CurlHttp> m_http;
    std::unique_ptr<LanguageModel> m_model;
};

} // namespace

void registerGenerationRoutes(http::Router &router, ServerContext &context, ContentServices &services)
{
    const auto route = [&context, &services](Reply (ContentServices::*serve)(const std::string &, const QString &)) {
        return [&context, &services, serve](const http::Request &request, http::Reply &response) {
            const std::optional<QString> user = context.authenticate(request);
            if (!user)
                return http::sendUnauthorized(response);
            if (!http::isValidUtf8(request.body.data(), request.body.size()))
                return http::sendError(response, 400, {{"error", QStringLiteral("the body is not UTF-8")}});
            const Reply reply = (services.*serve)(request.body, *user);
            http::sendJson(response, reply.status, QByteArray::fromStdString(reply.body));
        };
    };
    router.post("/api/cards", generationBodyLimit, route(&ContentServices::cards));
    router.post("/api/story", generationBodyLimit, route(&ContentServices::story));
}

std::unique_ptr<ContentServices> makeContentServices(const ServerConfig &config, const Secrets &secrets,
                                                     ServerStore &store)
{
    GenerationSettings settings;
    settings.maxConcurrentCalls = config.llmMaxConcurrent;
    settings.dailyQuota = config.llmDailyQuota;
    settings.cardsBudget = std::chrono::milliseconds(config.llmCardsBudgetMs);
    settings.storyBudget = std::chrono::milliseconds(config.llmStoryBudgetMs);
    if (config.llmUrl.isEmpty()) {
        logLine(QStringLiteral("no language model configured (llm-url): only cached cards and stories are answered, "
                               "other songs get 502"));
        return std::make_unique<ContentServices>(store, nullptr, Prompts(), settings);
    }
    Prompts prompts = Prompts::load(config.llmPrompts.isEmpty() ? Prompts::defaultFolder()
                                                                : config.llmPrompts.toStdString());
    ChatCompletionsModel::Settings model;
    model.baseUrl = config.llmUrl.toStdString();
    model.model = config.llmModel.toStdString();
    model.apiKey = secrets.llmKey;
    model.jsonResponseFormat = config.llmJsonFormat;
    auto http = std::make_unique<CurlHttp>();
    auto chat = std::make_unique<ChatCompletionsModel>(*http, model);
    // Without user name, password or query: some services take a key there.
    const QString shownUrl = QUrl(config.llmUrl).adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery).toString();
    logLine(QStringLiteral("language model: %1 at %2 (prompts %3, %4)")
                .arg(config.llmModel, shownUrl, QLatin1String(Prompts::cardsVersion),
                     QLatin1String(Prompts::storyVersion)));
    return std::make_unique<ModelServices>(store, std::move(http), std::move(chat), std::move(prompts), settings);
}

} // namespace server
