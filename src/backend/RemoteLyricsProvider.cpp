#include "backend/RemoteLyricsProvider.h"

#include "backend/AuthService.h"
#include "core/LrcParser.h"
#include "platform/JsonWriter.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"

#include <cmath>

namespace {

QByteArray requestBody(const QString &title, const QString &artist, double duration)
{
    return JsonWriter::toBytes([&](JsonWriter &body) {
        body.beginObject();
        body.member("title", Text::trimmed(title));
        body.member("artist", Text::trimmed(artist));
        // No known duration (0, negative, NaN) leaves the key out. An infinite one cannot be
        // written as JSON at all, and is no more a known length than NaN: left out too.
        if (duration > 0 && std::isfinite(duration))
            body.member("duration", duration);
        body.member("targetLanguage", RemoteLyricsProvider::defaultTargetLanguage);
        body.endObject();
    });
}

RemoteLyricsFetchResult decodeAnswer(const QByteArray &bytes)
{
    QString lyrics;
    QString source;
    std::optional<QString> language;
    try {
        const JsonReader reader(StrictJson::parseObject(bytes));
        lyrics = reader.requireString(u"lyrics");
        source = reader.requireString(u"source");
        reader.requireString(u"songKey");
        language = reader.optionalString(u"language");
    } catch (const JsonError &error) {
        throw RemoteLyricsError::decode(error.message());
    }

    RemoteLyricsFetchResult result;
    const QList<SyncedLine> lines = LRCParser::parse(lyrics);
    // Text without a single stamped line is no lyrics, not a failure.
    result.result = lines.isEmpty() ? LyricsResult::notFound() : LyricsResult::synced(lyrics, lines);
    // A source this program does not know is shown as the default one.
    result.source = lyricsSourceFromRawValue(source).value_or(LyricsSource::lrclib);
    result.language = language;
    return result;
}

QCoro::Task<RemoteLyricsFetchResult> performFetch(HttpSession *session, QPointer<AuthService> auth, QUrl baseURL,
                                                  QString title, QString artist, double duration,
                                                  CancellationToken token)
{
    if (const std::optional<RemoteLyricsError> invalid = RemoteLyricsProvider::validate(title, artist))
        throw *invalid;

    Http::Request request;
    request.method = "POST";
    request.url = RemoteAPIConfig::url(baseURL, RemoteAPIConfig::Path::track);
    request.timeout = RemoteAPIConfig::Timeout::track;
    request.setHeader("Content-Type", "application/json");
    request.setHeader("Accept", "application/json");
    request.body = requestBody(title, artist, duration);

    Http::Response response;
    try {
        AuthService *service = auth.data();
        response = co_await RemoteAPIConfig::send(session, service, request, token);
    } catch (const Http::TransportError &error) {
        throw RemoteLyricsError::transport(error.networkError());
    }

    if (!response.status)
        throw RemoteLyricsError::server(0);
    switch (*response.status) {
    case 200:
        co_return decodeAnswer(response.body);
    case 400:
        throw RemoteLyricsError::invalidInput(QStringLiteral("server-rejected"));
    case 404:
        throw RemoteLyricsError::notFound();
    default:
        // 401 included: the session has been cleared by the shared send.
        throw RemoteLyricsError::server(*response.status);
    }
}

} // namespace

RemoteLyricsProvider::RemoteLyricsProvider(HttpSession *session, AuthService *auth, QUrl baseURL)
    : m_session(session), m_auth(auth), m_baseURL(std::move(baseURL))
{
}

std::optional<RemoteLyricsError> RemoteLyricsProvider::validate(const QString &title, const QString &artist)
{
    if (Text::trimmed(title).isEmpty())
        return RemoteLyricsError::invalidInput(QStringLiteral("title"));
    if (Text::trimmed(artist).isEmpty())
        return RemoteLyricsError::invalidInput(QStringLiteral("artist"));
    // Counted on the text as passed in: surrounding blanks count too.
    if (Text::characterCount(title) > maximumLength)
        return RemoteLyricsError::invalidInput(QStringLiteral("title>256"));
    if (Text::characterCount(artist) > maximumLength)
        return RemoteLyricsError::invalidInput(QStringLiteral("artist>256"));
    return std::nullopt;
}

QCoro::Task<RemoteLyricsFetchResult> RemoteLyricsProvider::fetch(QString title, QString artist, double duration,
                                                                 QString sourceBundleIdentifier,
                                                                 CancellationToken token)
{
    Q_UNUSED(sourceBundleIdentifier);
    // The work runs in a free coroutine over copies, so it never touches this object after a wait.
    return performFetch(m_session, m_auth, m_baseURL, std::move(title), std::move(artist), duration,
                        std::move(token));
}
