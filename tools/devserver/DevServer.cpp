#include "DevServer.h"

#include "HttpFakeAuth.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using Reply = HttpFake::Reply;

Reply error(int status, const QString &message)
{
    return Reply::json(status, QJsonObject{{QStringLiteral("error"), message}});
}

// The request's JSON object and its string fields; nothing when one of them is missing.
std::optional<QHash<QString, QString>> stringFields(const HttpFake::Request &request, const QStringList &keys)
{
    if (!request.json.isObject())
        return std::nullopt;
    const QJsonObject body = request.json.toObject();
    QHash<QString, QString> fields;
    for (const QString &key : keys) {
        const QJsonValue value = body.value(key);
        if (!value.isString())
            return std::nullopt;
        fields.insert(key, value.toString());
    }
    return fields;
}

// The demo song a POST names by its "title" and "artist" (plus any other required string
// fields), or the answer that refuses the request.
struct SongLookup
{
    const DemoSong *song = nullptr;
    std::optional<HttpFake::Reply> refusal;
};

SongLookup lookUpSong(const DemoContent &content, const HttpFake::Request &request, const QStringList &required,
                      const QString &missingText)
{
    if (request.method != "POST")
        return {nullptr, error(405, QStringLiteral("method not allowed"))};
    const auto fields = stringFields(request, QStringList{QStringLiteral("title"), QStringLiteral("artist")} + required);
    if (!fields)
        return {nullptr, error(400, missingText)};
    return {content.find(fields->value(QStringLiteral("title")), fields->value(QStringLiteral("artist"))), {}};
}

} // namespace

DevServer::DevServer(DemoContent content, Options options, QObject *parent)
    : QObject(parent)
    , m_content(std::move(content))
    , m_options(options)
    , m_now([] { return QDateTime::currentSecsSinceEpoch(); })
{
    HttpFakeAuth &auth = m_http.auth();
    auth.setAutoConfirm(true);
    auth.setExpiresIn(m_options.tokenLifetimeSeconds);
    auth.setClock([this] { return now(); });

    // The fake keeps every request for tests to inspect; a long-running server keeps none.
    connect(&m_http, &HttpFake::requestReceived, this, [this] { m_http.clearLog(); });

    for (const char *path : {"/auth/v1/signup", "/auth/v1/token", "/auth/v1/resend", "/auth/v1/logout"})
        m_http.setHandler(QString::fromLatin1(path), [this](const HttpFake::Request &request) { return authCall(request); });
    m_http.setHandler(QStringLiteral("/api/track"), [this](const HttpFake::Request &request) {
        return guarded(request, [this, &request](const QString &) { return track(request); });
    });
    m_http.setHandler(QStringLiteral("/api/cards"), [this](const HttpFake::Request &request) {
        return guarded(request, [this, &request](const QString &) { return cards(request); });
    });
    m_http.setHandler(QStringLiteral("/api/story"), [this](const HttpFake::Request &request) {
        return guarded(request, [this, &request](const QString &) { return story(request); });
    });
    m_http.setHandler(QStringLiteral("/api/backup"), [this](const HttpFake::Request &request) {
        return guarded(request, [this, &request](const QString &userId) { return backup(request, userId); });
    });
}

bool DevServer::listen(quint16 port)
{
    return m_http.listen(port, QHostAddress::LocalHost);
}

void DevServer::setClock(std::function<qint64()> nowSeconds)
{
    m_now = std::move(nowSeconds);
}

qint64 DevServer::now() const
{
    return m_now();
}

HttpFake::Reply DevServer::authCall(const HttpFake::Request &request)
{
    const Reply reply = m_http.auth().handle(request).value_or(error(404, QStringLiteral("not found")));
    // Remember every access token handed out, with its user and expiry, for the /api/ calls.
    const QJsonObject body = QJsonDocument::fromJson(reply.body).object();
    const QString accessToken = body.value(QLatin1String("access_token")).toString();
    if (reply.status == 200 && !accessToken.isEmpty()) {
        const qint64 current = now();
        m_grants.removeIf([current](const auto &grant) { return grant.value().expiresAt <= current; });
        m_grants.insert(accessToken, Grant{body.value(QLatin1String("user")).toObject().value(QLatin1String("id")).toString(),
                                           qint64(body.value(QLatin1String("expires_at")).toDouble())});
    }
    emit requestHandled(QString::fromLatin1(request.method), request.path, reply.status);
    return reply;
}

std::optional<QString> DevServer::userFor(const HttpFake::Request &request)
{
    const QByteArray authorization = request.header("Authorization").value_or(QByteArray());
    if (!authorization.startsWith("Bearer "))
        return std::nullopt;
    const QString token = QString::fromUtf8(authorization.mid(7));
    const auto grant = m_grants.constFind(token);
    // A logout revokes the user's tokens in the authentication stand-in; expiry is checked here.
    if (grant == m_grants.constEnd() || !m_http.auth().isValidAccessToken(token) || now() >= grant->expiresAt)
        return std::nullopt;
    return grant->userId;
}

HttpFake::Reply DevServer::guarded(const HttpFake::Request &request,
                                   const std::function<HttpFake::Reply(const QString &userId)> &answer)
{
    const std::optional<QString> user = userFor(request);
    const Reply reply = user ? answer(*user) : error(401, QStringLiteral("unauthorized"));
    emit requestHandled(QString::fromLatin1(request.method), request.path, reply.status);
    return reply;
}

HttpFake::Reply DevServer::track(const HttpFake::Request &request) const
{
    const SongLookup found = lookUpSong(m_content, request, {}, QStringLiteral("title and artist are required"));
    if (found.refusal)
        return *found.refusal;
    const DemoSong *song = found.song;
    if (!song)
        return error(404, QStringLiteral("no lyrics for this song"));
    return Reply::json(200, QJsonObject{{QStringLiteral("lyrics"), song->lyrics},
                                        {QStringLiteral("source"), song->source},
                                        {QStringLiteral("songKey"), song->songKey()},
                                        {QStringLiteral("language"), song->language}});
}

HttpFake::Reply DevServer::cards(const HttpFake::Request &request) const
{
    const SongLookup found = lookUpSong(m_content, request, {QStringLiteral("lyrics")},
                                        QStringLiteral("title, artist and lyrics are required"));
    if (found.refusal)
        return *found.refusal;
    const DemoSong *song = found.song;
    if (!song || !song->cards) {
        // There is no card writer here: a song without demo cards fails as the writer would.
        return Reply::json(502, QJsonObject{{QStringLiteral("error"), QStringLiteral("no cards for this song")},
                                            {QStringLiteral("category"), QStringLiteral("upstream_error")}});
    }
    return Reply::json(200, *song->cards);
}

HttpFake::Reply DevServer::story(const HttpFake::Request &request) const
{
    const SongLookup found = lookUpSong(m_content, request, {}, QStringLiteral("title and artist are required"));
    if (found.refusal)
        return *found.refusal;
    const DemoSong *song = found.song;
    if (!song)
        return error(404, QStringLiteral("no story for this song"));
    return Reply::json(200, QJsonObject{{QStringLiteral("article"), song->story},
                                        {QStringLiteral("songKey"), song->songKey()}});
}

HttpFake::Reply DevServer::backup(const HttpFake::Request &request, const QString &userId)
{
    const QString space = request.queryValue(QStringLiteral("namespace"));
    if (space.isEmpty())
        return error(400, QStringLiteral("namespace is required"));
    const QString key = userId + QLatin1Char('/') + space;
    if (request.method == "PUT") {
        if (request.body.size() > m_options.maximumBackupBytes)
            return error(413, QStringLiteral("backup too large"));
        m_backups.insert(key, request.body);
        return Reply::json(200, QJsonObject{{QStringLiteral("storedAt"),
                                             QDateTime::fromSecsSinceEpoch(now(), Qt::UTC).toString(Qt::ISODate)},
                                            {QStringLiteral("sizeBytes"), double(request.body.size())}});
    }
    if (request.method == "GET") {
        const auto stored = m_backups.constFind(key);
        if (stored == m_backups.constEnd())
            return error(404, QStringLiteral("no backup"));
        return Reply::text(200, *stored, "application/json");
    }
    return error(405, QStringLiteral("method not allowed"));
}
