#include "HttpFake.h"

#include "HttpFakeAuth.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 422: return "Unprocessable Entity";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Status";
    }
}

bool hasHeader(const HttpFake::Headers &headers, const QByteArray &name)
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QJsonObject errorObject(const QString &message)
{
    return QJsonObject{{QStringLiteral("error"), message}};
}

} // namespace

// ---- Reply ----------------------------------------------------------------------------------

HttpFake::Reply HttpFake::Reply::json(int status, const QJsonValue &body)
{
    Reply r;
    r.status = status;
    if (body.isObject())
        r.body = QJsonDocument(body.toObject()).toJson(QJsonDocument::Compact);
    else if (body.isArray())
        r.body = QJsonDocument(body.toArray()).toJson(QJsonDocument::Compact);
    else {
        // A scalar at the top level: wrap and unwrap to get its JSON text.
        const QByteArray wrapped = QJsonDocument(QJsonArray{body}).toJson(QJsonDocument::Compact);
        r.body = wrapped.mid(1, wrapped.size() - 2);
    }
    r.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
    return r;
}

HttpFake::Reply HttpFake::Reply::text(int status, const QByteArray &body, const QByteArray &contentType)
{
    Reply r;
    r.status = status;
    r.body = body;
    r.headers.append(qMakePair(QByteArray("Content-Type"), contentType));
    return r;
}

HttpFake::Reply HttpFake::Reply::empty(int status)
{
    Reply r;
    r.status = status;
    return r;
}

HttpFake::Reply HttpFake::Reply::neverAnswer()
{
    Reply r;
    r.mode = Mode::NeverAnswer;
    return r;
}

HttpFake::Reply HttpFake::Reply::closeWithoutAnswer()
{
    Reply r;
    r.mode = Mode::CloseWithoutAnswer;
    return r;
}

HttpFake::Reply HttpFake::Reply::stallMidBody(int status, const QByteArray &body, qsizetype partialBytes)
{
    Reply r = text(status, body, "application/json");
    r.mode = Mode::StallMidBody;
    r.partialBytes = partialBytes;
    return r;
}

HttpFake::Reply HttpFake::Reply::closeMidBody(int status, const QByteArray &body, qsizetype partialBytes)
{
    Reply r = text(status, body, "application/json");
    r.mode = Mode::CloseMidBody;
    r.partialBytes = partialBytes;
    return r;
}

HttpFake::Reply HttpFake::Reply::resetMidBody(int status, const QByteArray &body, qsizetype partialBytes)
{
    Reply r = closeMidBody(status, body, partialBytes);
    r.mode = Mode::ResetMidBody;
    return r;
}

HttpFake::Reply HttpFake::Reply::trickle(int status, const QByteArray &body, qsizetype pieceBytes,
                                         std::chrono::milliseconds interval)
{
    Reply r = text(status, body, "application/json");
    r.mode = Mode::Trickle;
    r.pieceBytes = qMax<qsizetype>(pieceBytes, 1);
    r.interval = interval;
    return r;
}

HttpFake::Reply HttpFake::Reply::endless(int status, std::optional<qint64> declaredLength)
{
    Reply r = text(status, QByteArray(), "application/json");
    r.mode = Mode::Endless;
    r.declaredLength = declaredLength;
    return r;
}

HttpFake::Reply HttpFake::Reply::redirect(int status, const std::optional<QUrl> &location)
{
    Reply r = empty(status);
    if (location)
        r.headers.append(qMakePair(QByteArray("Location"), location->toEncoded()));
    return r;
}

HttpFake::Reply HttpFake::Reply::withDelay(std::chrono::milliseconds d) const
{
    Reply r = *this;
    r.delay = d;
    return r;
}

HttpFake::Reply HttpFake::Reply::withHeader(const QByteArray &name, const QByteArray &value) const
{
    Reply r = *this;
    r.headers.removeIf([&](const auto &h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
    r.headers.append(qMakePair(name, value));
    return r;
}

// ---- Request --------------------------------------------------------------------------------

std::optional<QByteArray> HttpFake::Request::header(const QByteArray &name) const
{
    for (const auto &h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return std::nullopt;
}

QJsonObject HttpFake::Request::jsonObject() const
{
    return json.toObject();
}

// ---- Connection -----------------------------------------------------------------------------

struct HttpFake::Connection
{
    int id = 0;
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    // The request being answered; while set, further requests on this connection wait.
    std::optional<QString> pendingPath;
    bool closingByUs = false;
    QObject context; // owns the delay timers; deleting the connection cancels them
};

// ---- HttpFake -------------------------------------------------------------------------------

HttpFake::HttpFake(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    qRegisterMetaType<HttpFake::Request>();
    connect(m_server, &QTcpServer::newConnection, this, &HttpFake::onNewConnection);
}

HttpFake::~HttpFake()
{
    for (auto &c : m_connections)
        if (c->socket) {
            c->socket->disconnect(this);
            c->socket->abort();
        }
}

bool HttpFake::listen(quint16 port, const QHostAddress &address)
{
    return m_server->listen(address, port);
}

quint16 HttpFake::port() const
{
    return m_server->serverPort();
}

QUrl HttpFake::baseUrl() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_server->serverAddress().toString());
    url.setPort(port());
    return url;
}

QUrl HttpFake::refusedUrl()
{
    // Take an ephemeral port and let it go again: nothing listens there afterwards.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 freePort = probe.serverPort();
    probe.close();
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(freePort);
    return url;
}

void HttpFake::setReply(const QString &pathKey, const Reply &reply)
{
    m_handlers.insert(pathKey, [reply](const Request &) { return reply; });
}

void HttpFake::setHandler(const QString &pathKey, Handler handler)
{
    m_handlers.insert(pathKey, std::move(handler));
}

void HttpFake::enqueueReply(const QString &pathKey, const Reply &reply)
{
    m_queued[pathKey].append(reply);
}

void HttpFake::clearScripts()
{
    m_queued.clear();
    m_handlers.clear();
}

void HttpFake::requireBearer(const std::optional<QString> &token, const QString &pathPrefix)
{
    m_bearerMode = token ? BearerMode::Fixed : BearerMode::None;
    m_bearerToken = token.value_or(QString());
    m_bearerPrefix = pathPrefix;
}

void HttpFake::requireIssuedBearer(const QString &pathPrefix)
{
    auth();
    m_bearerMode = BearerMode::Issued;
    m_bearerPrefix = pathPrefix;
}

HttpFakeAuth &HttpFake::auth()
{
    if (!m_auth)
        m_auth = std::make_unique<HttpFakeAuth>();
    return *m_auth;
}

QList<HttpFake::Request> HttpFake::requests(const QString &path) const
{
    QList<Request> out;
    for (const auto &r : m_log)
        if (r.path == path)
            out.append(r);
    return out;
}

HttpFake::Request HttpFake::lastRequest(const QString &path) const
{
    for (auto it = m_log.crbegin(); it != m_log.crend(); ++it)
        if (it->path == path)
            return *it;
    return {};
}

int HttpFake::count(const QString &path) const
{
    int n = 0;
    for (const auto &r : m_log)
        if (r.path == path)
            ++n;
    return n;
}

void HttpFake::clearLog()
{
    m_log.clear();
    m_aborted.clear();
}

int HttpFake::abortedCount() const
{
    int n = 0;
    for (int v : m_aborted)
        n += v;
    return n;
}

int HttpFake::openConnections() const
{
    int n = 0;
    for (const auto &c : m_connections)
        if (c->socket && c->socket->state() == QAbstractSocket::ConnectedState)
            ++n;
    return n;
}

void HttpFake::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto connection = std::make_unique<Connection>();
        connection->id = m_nextConnectionId++;
        connection->socket = socket;
        socket->setParent(this);
        Connection *raw = connection.get();
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { onReadyRead(raw); });
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] { onDisconnected(raw); });
        m_connections.push_back(std::move(connection));
        if (socket->bytesAvailable() > 0)
            onReadyRead(raw);
    }
}

void HttpFake::onReadyRead(Connection *connection)
{
    if (!connection->socket)
        return;
    connection->buffer.append(connection->socket->readAll());
    parseBuffered(connection);
}

void HttpFake::parseBuffered(Connection *connection)
{
    while (connection->socket && connection->socket->state() == QAbstractSocket::ConnectedState
           && !connection->pendingPath && tryParseRequest(connection)) {
    }
}

void HttpFake::onDisconnected(Connection *connection)
{
    if (connection->pendingPath && !connection->closingByUs) {
        const QString path = *connection->pendingPath;
        m_aborted[path] += 1;
        connection->pendingPath.reset();
        emit clientAborted(path);
    }
    if (connection->socket)
        connection->socket->deleteLater();
    // Dropping the connection also drops its context object, so pending delay timers never fire.
    const auto it = std::find_if(m_connections.begin(), m_connections.end(),
                                 [connection](const auto &c) { return c.get() == connection; });
    if (it != m_connections.end()) {
        std::unique_ptr<Connection> doomed = std::move(*it);
        m_connections.erase(it);
        QTimer::singleShot(0, this, [d = std::shared_ptr<Connection>(std::move(doomed))] {});
    }
}

bool HttpFake::tryParseRequest(Connection *connection)
{
    QByteArray &buf = connection->buffer;
    const qsizetype headerEnd = buf.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return false;

    const QList<QByteArray> lines = buf.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    Request request;
    request.connectionId = connection->id;
    request.method = requestLine.value(0);
    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append(qMakePair(name, value));
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            contentLength = value.toLongLong(&ok);
            if (!ok || contentLength < 0) {
                // Unreadable framing: nothing after it can be parsed either.
                buf.clear();
                connection->closingByUs = true;
                connection->socket->disconnectFromHost();
                return false;
            }
        }
    }
    if (buf.size() < headerEnd + 4 + contentLength)
        return false;

    request.body = buf.mid(headerEnd + 4, contentLength);
    buf.remove(0, headerEnd + 4 + contentLength);

    const QUrl target = QUrl::fromEncoded(requestLine.value(1));
    request.path = target.path(QUrl::FullyDecoded);
    request.query = QUrlQuery(target);
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &parseError);
    if (parseError.error == QJsonParseError::NoError)
        request.json = doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());

    m_log.append(request);
    connection->pendingPath = request.path;
    emit requestReceived(request);
    startReply(connection, answerFor(request));
    return true;
}

std::optional<HttpFake::Reply> HttpFake::bearerRejection(const Request &request) const
{
    if (m_bearerMode == BearerMode::None || !request.path.startsWith(m_bearerPrefix))
        return std::nullopt;
    const QByteArray authorization = request.header("Authorization").value_or(QByteArray());
    const QString token = authorization.startsWith("Bearer ") ? QString::fromUtf8(authorization.mid(7)) : QString();
    const bool ok = m_bearerMode == BearerMode::Fixed ? (!token.isEmpty() && token == m_bearerToken)
                                                      : (m_auth && m_auth->isValidAccessToken(token));
    if (ok)
        return std::nullopt;
    return Reply::json(401, errorObject(QStringLiteral("unauthorized")));
}

HttpFake::Reply HttpFake::answerFor(const Request &request)
{
    if (auto rejection = bearerRejection(request))
        return *rejection;

    const QString query = request.query.toString(QUrl::FullyDecoded);
    QStringList keys;
    if (!query.isEmpty())
        keys.append(request.path + QLatin1Char('?') + query);
    keys.append(request.path);

    for (const QString &key : keys) {
        auto it = m_queued.find(key);
        if (it != m_queued.end() && !it->isEmpty())
            return it->takeFirst();
    }
    for (const QString &key : keys) {
        auto it = m_handlers.constFind(key);
        if (it != m_handlers.constEnd())
            return (*it)(request);
    }
    if (m_auth)
        if (auto reply = m_auth->handle(request))
            return *reply;
    return Reply::json(404, errorObject(QStringLiteral("not found")));
}

void HttpFake::startReply(Connection *connection, const Reply &reply)
{
    if (reply.delay.count() <= 0) {
        writeReply(connection, reply);
        return;
    }
    QTimer::singleShot(reply.delay, &connection->context, [this, connection, reply] {
        writeReply(connection, reply);
    });
}

void HttpFake::writeReply(Connection *connection, const Reply &reply)
{
    QTcpSocket *socket = connection->socket;
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;

    using Mode = Reply::Mode;
    if (reply.mode == Mode::NeverAnswer)
        return;
    if (reply.mode == Mode::CloseWithoutAnswer) {
        connection->closingByUs = true;
        socket->disconnectFromHost();
        return;
    }

    const bool closes = reply.mode == Mode::CloseMidBody || reply.mode == Mode::ResetMidBody;
    const bool chunked = reply.mode == Mode::Endless && !reply.declaredLength;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    for (const auto &h : reply.headers)
        head += h.first + ": " + h.second + "\r\n";
    if (!reply.body.isEmpty() && !hasHeader(reply.headers, "Content-Type"))
        head += "Content-Type: application/octet-stream\r\n";
    if (chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (!hasHeader(reply.headers, "Content-Length"))
        head += "Content-Length: " + QByteArray::number(reply.declaredLength.value_or(reply.body.size())) + "\r\n";
    head += closes ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    head += "\r\n";
    socket->write(head);

    if (reply.mode == Mode::Trickle)
        return writeTrickle(connection, reply);
    if (reply.mode == Mode::Endless)
        return writeEndless(connection, reply);

    const bool partial = reply.mode == Mode::StallMidBody || closes;
    socket->write(partial ? reply.body.left(reply.partialBytes) : reply.body);
    socket->flush();

    if (reply.mode == Mode::StallMidBody)
        return; // stays pending: the client either times out or aborts
    if (reply.mode == Mode::ResetMidBody) {
        // A moment later, once the client has taken in what came, the connection is closed with
        // a zero linger time: RST instead of FIN.
        const linger resetOnClose{1, 0};
        ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose);
        connection->closingByUs = true;
        QTimer::singleShot(5, socket, [socket] { socket->abort(); });
        return;
    }
    if (closes) {
        connection->closingByUs = true;
        socket->disconnectFromHost();
        return;
    }
    finishPending(connection);
}

void HttpFake::writeTrickle(Connection *connection, const Reply &reply)
{
    auto *timer = new QTimer(&connection->context);
    timer->setInterval(reply.interval);
    connect(timer, &QTimer::timeout, &connection->context, [this, connection, reply, timer, sent = qsizetype(0)]() mutable {
        if (!connection->socket)
            return;
        connection->socket->write(reply.body.mid(sent, reply.pieceBytes));
        sent += reply.pieceBytes;
        if (sent >= reply.body.size()) {
            timer->stop();
            timer->deleteLater();
            finishPending(connection);
        }
    });
    timer->start();
}

void HttpFake::writeEndless(Connection *connection, const Reply &reply)
{
    // Written as the socket drains, so the fake itself holds no more than a piece or two.
    static const QByteArray filler(256 * 1024, 'x');
    static const QByteArray chunk = QByteArray::number(filler.size(), 16) + "\r\n" + filler + "\r\n";
    const std::optional<qint64> total = reply.declaredLength;
    auto sent = std::make_shared<qint64>(0);
    auto pumping = std::make_shared<QMetaObject::Connection>();
    const auto pump = [this, connection, total, sent, pumping] {
        QTcpSocket *socket = connection->socket;
        while (socket && socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < filler.size()) {
            if (!total) {
                socket->write(chunk);
                continue;
            }
            if (*sent >= *total) {
                disconnect(*pumping);
                finishPending(connection);
                return;
            }
            const QByteArray piece = filler.left(qMin<qint64>(filler.size(), *total - *sent));
            socket->write(piece);
            *sent += piece.size();
        }
    };
    *pumping = connect(connection->socket, &QTcpSocket::bytesWritten, &connection->context, pump);
    pump();
}

void HttpFake::finishPending(Connection *connection)
{
    connection->pendingPath.reset();
    // A kept-alive connection may already hold the next request.
    if (!connection->buffer.isEmpty())
        QTimer::singleShot(0, &connection->context, [this, connection] { parseBuffered(connection); });
}
