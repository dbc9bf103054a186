#pragma once

#include "backend/BudgetClock.h"
#include "backend/LLMProvider.h"
#include "backend/AuthService.h"
#include "backend/RemoteAPIConfig.h"
#include "backend/RemoteCardsError.h"

#include <QPointer>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

// Asks the backend to write a song's golden cards: POST /api/cards with the title, artist and
// lyrics. Card writing can take long, so the whole call runs against a 75-second budget on the
// continuous clock, on top of the request's own 75-second idle time-out; a request still running
// when the budget is spent is aborted and the call fails with transport(timed out).
//
// Request: {"title", "artist", "lyrics"} unchanged (not trimmed), "targetLanguage" only when
// given. Answer 200: {"cards": [golden cards], "songKey"} required, "warning" optional; an empty
// card list is a parse failure. 502: {"error", "category"} → upstream(category). 400 →
// invalidInput("server-rejected"), 401 → the session is cleared and server(401), other → server.
class RemoteLLMProvider final : public LLMProvider
{
public:
    static constexpr std::chrono::seconds budget{75};

    // `session` and `auth` must outlive every call (the shared session and AuthService::shared()
    // live as long as the process). `baseURLOverride` replaces the backend's address when set.
    // `budgetClock` measures the budget; the program always uses a fresh ContinuousBudgetClock.
    explicit RemoteLLMProvider(HttpSession *session = &RemoteAPIConfig::sharedSession(),
                               std::optional<QUrl> baseURLOverride = std::nullopt,
                               AuthService *auth = AuthService::shared(),
                               std::shared_ptr<BudgetClock> budgetClock = std::make_shared<ContinuousBudgetClock>());

    // A fired token aborts the request and ends the call with CancelledError (not a time-out).
    QCoro::Task<QList<GoldenCard>> fetchCards(QString lyrics, NowPlayingTrack track,
                                              std::optional<QString> targetLanguage,
                                              CancellationToken token = {}) override;

    // Everything one call needs, copied into it so that it never refers back to the provider.
    struct Context
    {
        HttpSession *session = nullptr;
        QPointer<AuthService> auth;
        QUrl base;
        std::shared_ptr<BudgetClock> budgetClock;
    };

private:
    Context m_context;
};
