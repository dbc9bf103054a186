#include "backend/RemoteSongStoryProvider.h"

#include "backend/AuthService.h"
#include "platform/JsonWriter.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"

namespace {

SongStory decodeStory(const QByteArray &bytes, const QString &title, const QString &artist)
{
    QString article;
    try {
        const JsonReader reader(StrictJson::parseObject(bytes));
        article = reader.requireString(u"article");
        reader.requireString(u"songKey");
    } catch (const JsonError &error) {
        throw RemoteSongStoryError::data(QStringLiteral("JSON decoding failed: ") + error.message());
    }
    article = Text::trimmed(article, Text::CharSet::whitespacesAndNewlines);
    if (article.isEmpty())
        throw RemoteSongStoryError::data(QStringLiteral("article is empty"));
    return SongStory{title, artist, article, SongStorySource::Remote};
}

// One request; `title` and `artist` are already trimmed and non-empty.
QCoro::Task<SongStory> requestStory(HttpSession *session, QPointer<AuthService> auth, QUrl base, QString title,
                                    QString artist)
{
    Http::Request request;
    request.method = "POST";
    request.url = RemoteAPIConfig::url(base, RemoteAPIConfig::Path::story);
    request.timeout = RemoteAPIConfig::Timeout::story;
    request.setHeader("Content-Type", "application/json");
    request.body = JsonWriter::toBytes([&](JsonWriter &body) {
        body.beginObject();
        body.member("title", title);
        body.member("artist", artist);
        body.member("targetLanguage", RemoteSongStoryProvider::targetLanguage);
        body.endObject();
    });

    Http::Response response;
    try {
        AuthService *service = auth.data();
        const CancellationToken never;
        response = co_await RemoteAPIConfig::send(session, service, request, never);
    } catch (const Http::TransportError &error) {
        if (error.kind() == Http::TransportError::Kind::timedOut)
            throw RemoteSongStoryError::timeout();
        throw RemoteSongStoryError::network();
    }

    // 401 included: the session has been cleared by the shared send. An answer that is not HTTP
    // has no status to check.
    if (response.status && *response.status != 200)
        throw RemoteSongStoryError::server(*response.status);
    co_return decodeStory(response.body, title, artist);
}

QCoro::Task<SongStory> fetchShared(std::shared_ptr<RemoteSongStoryProvider::State> state, QString songKey,
                                   QString title, QString artist)
{
    // Blanks are trimmed, line breaks are not: a title of only a line break is sent as it is.
    title = Text::trimmed(title, Text::CharSet::horizontalWhitespace);
    artist = Text::trimmed(artist, Text::CharSet::horizontalWhitespace);
    if (title.isEmpty() || artist.isEmpty())
        throw RemoteSongStoryError::data(QStringLiteral("title or artist is empty"));

    const CancellationToken waiter;
    // Joining: the first caller's title and artist decide the request.
    const auto existing = state->inflight.constFind(songKey);
    if (existing != state->inflight.constEnd()) {
        const SharedTask<SongStory> shared = *existing;
        SongStory story = co_await shared.wait(waiter);
        co_return story;
    }

    HttpSession *session = state->session;
    const QPointer<AuthService> auth = state->auth;
    const QUrl base = state->base;
    const std::function<QCoro::Task<SongStory>(CancellationToken)> body =
        [session, auth, base, title, artist](CancellationToken) { return requestStory(session, auth, base, title, artist); };
    const SharedTask<SongStory> shared(body);
    state->inflight.insert(songKey, shared);

    std::optional<SongStory> story;
    std::exception_ptr failure;
    try {
        story = co_await shared.wait(waiter);
    } catch (...) {
        failure = std::current_exception();
    }
    // Only the caller that started the request removes it, whatever its outcome.
    state->inflight.remove(songKey);
    if (failure)
        std::rethrow_exception(failure);
    co_return *story;
}

} // namespace

RemoteSongStoryProvider::RemoteSongStoryProvider(HttpSession *session, std::optional<QUrl> baseURL, AuthService *auth)
    : m_state(std::make_shared<State>())
{
    m_state->session = session;
    m_state->auth = auth;
    m_state->base = baseURL.value_or(RemoteAPIConfig::baseURL());
}

QCoro::Task<SongStory> RemoteSongStoryProvider::fetchStory(QString songKey, QString title, QString artist)
{
    return fetchShared(m_state, std::move(songKey), std::move(title), std::move(artist));
}
