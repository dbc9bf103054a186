#include "backend/RemoteLLMProvider.h"

#include "backend/AuthService.h"
#include "core/AppLog.h"
#include "platform/Async.h"
#include "platform/JsonWriter.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"

namespace {

using Cards = QList<GoldenCard>;

QByteArray requestBody(const QString &lyrics, const QString &title, const QString &artist,
                       const std::optional<QString> &targetLanguage)
{
    return JsonWriter::toBytes([&](JsonWriter &body) {
        body.beginObject();
        body.member("title", title);
        body.member("artist", artist);
        body.member("lyrics", lyrics);
        body.optionalMember("targetLanguage", targetLanguage);
        body.endObject();
    });
}

Cards decodeCards(const QByteArray &bytes)
{
    Cards cards;
    std::optional<QString> warning;
    try {
        const JsonReader reader(StrictJson::parseObject(bytes));
        // Every card must decode (its hints are lenient, its texts strict), else the whole answer fails.
        cards = GoldenCard::listFromJson(reader.requireArray(u"cards"), QStringLiteral("cards"));
        reader.requireString(u"songKey");
        warning = reader.optionalString(u"warning");
    } catch (const JsonError &error) {
        throw RemoteCardsError::parse(error.message());
    }
    if (cards.isEmpty())
        throw RemoteCardsError::parse(warning.value_or(QStringLiteral("empty cards array")));
    return cards;
}

// The category of a 502 answer; anything unreadable counts as an upstream failure.
SSEEvent::ErrorCategory decodeUpstreamCategory(const QByteArray &bytes)
{
    try {
        const JsonReader reader(StrictJson::parseObject(bytes));
        reader.requireString(u"error");
        return errorCategoryFromRawValue(reader.requireString(u"category"))
            .value_or(SSEEvent::ErrorCategory::upstreamError);
    } catch (const JsonError &) {
        return SSEEvent::ErrorCategory::upstreamError;
    }
}

QCoro::Task<Cards> requestCards(RemoteLLMProvider::Context context, QString lyrics, QString title, QString artist,
                                std::optional<QString> targetLanguage, CancellationToken token)
{
    // Blank inputs are refused here; the text itself is sent as it came.
    if (Text::trimmed(title).isEmpty())
        throw RemoteCardsError::invalidInput(QStringLiteral("title"));
    if (Text::trimmed(artist).isEmpty())
        throw RemoteCardsError::invalidInput(QStringLiteral("artist"));
    if (Text::trimmed(lyrics).isEmpty())
        throw RemoteCardsError::invalidInput(QStringLiteral("lyrics"));

    Http::Request request;
    request.method = "POST";
    request.url = RemoteAPIConfig::url(context.base, RemoteAPIConfig::Path::cards);
    request.timeout = RemoteAPIConfig::Timeout::cards;
    request.setHeader("Content-Type", "application/json");
    request.setHeader("Accept", "application/json");
    request.body = requestBody(lyrics, title, artist, targetLanguage);

    Http::Response response;
    try {
        AuthService *service = context.auth.data();
        response = co_await RemoteAPIConfig::send(context.session, service, request, token);
    } catch (const Http::TransportError &error) {
        throw RemoteCardsError::transport(error.networkError());
    }

    if (!response.status)
        throw RemoteCardsError::server(0);
    switch (*response.status) {
    case 200:
        co_return decodeCards(response.body);
    case 400:
        throw RemoteCardsError::invalidInput(QStringLiteral("server-rejected"));
    case 502:
        throw RemoteCardsError::upstream(decodeUpstreamCategory(response.body));
    default:
        // 401 included: the session has been cleared by the shared send.
        throw RemoteCardsError::server(*response.status);
    }
}

// Ends with CancelledError either way: when the budget is spent, or when the request won.
QCoro::Task<Cards> budgetDeadline(std::shared_ptr<BudgetClock> clock, CancellationToken token)
{
    const std::chrono::nanoseconds budget = RemoteLLMProvider::budget;
    co_await clock->sleep(budget, token);
    throw CancelledError();
}

QCoro::Task<Cards> fetchWithinBudget(RemoteLLMProvider::Context context, QString lyrics, QString title,
                                     QString artist, std::optional<QString> targetLanguage, CancellationToken token)
{
    qCInfo(lcCards, "[cards-client] ENTRY → JSON /api/cards (deadline=%lld.0 seconds)",
           qlonglong(RemoteLLMProvider::budget.count()));

    const std::function<QCoro::Task<Cards>(CancellationToken)> request =
        [context, lyrics, title, artist, targetLanguage](CancellationToken child) {
            return requestCards(context, lyrics, title, artist, targetLanguage, child);
        };
    const std::shared_ptr<BudgetClock> clock = context.budgetClock;
    const std::function<QCoro::Task<Cards>(CancellationToken)> deadline = [clock](CancellationToken child) {
        return budgetDeadline(clock, child);
    };

    Cards cards;
    bool budgetSpent = false;
    try {
        cards = co_await race<Cards>(request, deadline, token);
    } catch (const CancelledError &) {
        // The caller's own cancellation passes through; only the spent budget is a time-out.
        if (token.isCancelled())
            throw;
        budgetSpent = true;
    }
    if (budgetSpent) {
        // Error level, which maps onto warning lines.
        qCWarning(lcCards, "[cards-client] CHAIN JSON → timed out, rethrowing");
        throw RemoteCardsError::transport(QNetworkReply::TimeoutError);
    }
    qCInfo(lcCards, "[cards-client] CHAIN JSON → success, cards=%lld", qlonglong(cards.size()));
    co_return cards;
}

} // namespace

RemoteLLMProvider::RemoteLLMProvider(HttpSession *session, std::optional<QUrl> baseURLOverride, AuthService *auth,
                                     std::shared_ptr<BudgetClock> budgetClock)
    : m_context{session, auth, baseURLOverride.value_or(RemoteAPIConfig::baseURL()), std::move(budgetClock)}
{
}

QCoro::Task<QList<GoldenCard>> RemoteLLMProvider::fetchCards(QString lyrics, NowPlayingTrack track,
                                                             std::optional<QString> targetLanguage,
                                                             CancellationToken token)
{
    // Only the title and artist of the track are read.
    return fetchWithinBudget(m_context, std::move(lyrics), track.title, track.artist, std::move(targetLanguage),
                             std::move(token));
}
