#pragma once

#include "backend/AuthService.h"
#include "backend/RemoteAPIConfig.h"
#include "backend/RemoteLyricsError.h"
#include "backend/RemoteLyricsProviding.h"

#include <QPointer>
#include <QUrl>

// Asks the backend for a song's time-synced lyrics: POST /api/track with the title, artist and
// duration; the answer's LRC text is parsed at once. Keeps no state between calls.
//
// Request: {"title", "artist", "duration" (only when > 0), "targetLanguage": "en"}, title and
// artist trimmed. Answer 200: {"lyrics", "source", "songKey"} required strings, "language"
// optional. Status 400 → invalidInput("server-rejected"), 401 → the session is cleared and
// server(401), 404 → notFound, any other → server(status).
class RemoteLyricsProvider final : public RemoteLyricsProviding
{
public:
    static inline const QString defaultTargetLanguage = QStringLiteral("en");
    // The longest title or artist, in user-perceived characters of the text as passed in.
    static constexpr qsizetype maximumLength = 256;

    // `session` and `auth` must outlive every call (the shared session and AuthService::shared()
    // live as long as the process). `baseURL` replaces the backend's address (tests).
    explicit RemoteLyricsProvider(HttpSession *session = &RemoteAPIConfig::sharedSession(),
                                  AuthService *auth = AuthService::shared(),
                                  QUrl baseURL = RemoteAPIConfig::baseURL());

    // `sourceBundleIdentifier` is not used. A fired token aborts the request and ends the call
    // with CancelledError.
    QCoro::Task<RemoteLyricsFetchResult> fetch(QString title, QString artist, double duration,
                                               QString sourceBundleIdentifier, CancellationToken token = {}) override;

    // The first rule the input breaks, checked in this order: blank title ("title"), blank
    // artist ("artist"), title over 256 characters ("title>256"), artist over 256 ("artist>256").
    static std::optional<RemoteLyricsError> validate(const QString &title, const QString &artist);

private:
    HttpSession *m_session;
    QPointer<AuthService> m_auth;
    QUrl m_baseURL;
};
