#pragma once

#include "backend/AuthService.h"
#include "backend/RemoteAPIConfig.h"
#include "core/SongStoryError.h"
#include "core/SongStoryProvider.h"
#include "platform/Async.h"

#include <QHash>
#include <QPointer>
#include <QUrl>

#include <memory>
#include <optional>

// Asks the backend for a song's story: POST /api/story with the title and artist; the answer's
// article becomes a SongStory. At most one request runs per song key: callers that ask for a key
// while its request is under way share that request's outcome. Nothing is kept once a request
// has finished, so a later call for the same key sends a new one.
//
// Request: {"title", "artist", "targetLanguage": "en"}, title and artist trimmed of blanks (not
// line breaks). Answer 200: {"article", "songKey"} required strings. Other statuses → server
// (401 after the session is cleared); transport failures → timeout or network.
//
// GUI thread only. Callers are not cancelled individually: a shared request runs to its end.
class RemoteSongStoryProvider final : public SongStoryProvider
{
public:
    static inline const QString targetLanguage = QStringLiteral("en");

    // `session` and `auth` must outlive the provider (the shared session and AuthService::shared()
    // live as long as the process). No `baseURL` means the backend's address.
    explicit RemoteSongStoryProvider(HttpSession *session = &RemoteAPIConfig::sharedSession(),
                                     std::optional<QUrl> baseURL = std::nullopt,
                                     AuthService *auth = AuthService::shared());

    QCoro::Task<SongStory> fetchStory(QString songKey, QString title, QString artist) override;

    // Requests under way (one per song key).
    int inflightCount() const { return int(m_state->inflight.size()); }

    struct State
    {
        HttpSession *session = nullptr;
        QPointer<AuthService> auth;
        QUrl base;
        QHash<QString, SharedTask<SongStory>> inflight;
    };

private:
    std::shared_ptr<State> m_state;
};
