#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTcpServer;
class QTcpSocket;
class HttpFakeAuth;

// An HTTP/1.1 server on the loopback address for tests.
// Every answer is scripted per path; every request is logged. Plain Qt (Core + Network),
// no test framework: it runs on the thread that created it and needs that thread's event loop.
//
// How a request is answered, first match wins:
//  1. a bearer check (requireBearer) that fails: 401 {"error":"unauthorized"};
//  2. the next queued one-shot reply for "path?query", then for "path" (enqueueReply);
//  3. the standing reply or handler for "path?query", then for "path" (setReply / setHandler);
//  4. the hosted-authentication stand-in, when enabled (auth()), for its "/auth/v1/…" paths;
//  5. 404 {"error":"not found"}.
// Paths are matched exactly ("/api/track"); the query key is the decoded query as sent.
class HttpFake : public QObject
{
    Q_OBJECT

public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    // One scripted answer.
    struct Reply
    {
        enum class Mode {
            Complete,          // status line, headers and the whole body
            NeverAnswer,       // read the request, send nothing, keep the connection open
            StallMidBody,      // headers (with the full Content-Length) and `partialBytes` of the body, then silence
            // Read the request and close the connection without a byte.
            CloseWithoutAnswer,
            CloseMidBody,      // headers and `partialBytes` of the body, then close the connection
            ResetMidBody,      // headers and `partialBytes` of the body, then a moment later reset the connection (RST)
            Trickle,           // headers, then the body in pieces of `pieceBytes`, `interval` apart
            // Headers, then filler bytes for as long as the client reads: under a Content-Length of
            // `declaredLength` (and no more than that) when it is set, else chunked without end.
            Endless,
        };

        int status = 200;
        Headers headers;          // extra headers; "Content-Type" here replaces the default
        QByteArray body;          // sent as is: JSON, other text, or empty
        std::chrono::milliseconds delay{0}; // wait before the first byte of the answer
        Mode mode = Mode::Complete;
        qsizetype partialBytes = 0;
        qsizetype pieceBytes = 0;
        std::chrono::milliseconds interval{0};
        std::optional<qint64> declaredLength;

        static Reply json(int status, const QJsonValue &body);
        static Reply text(int status, const QByteArray &body, const QByteArray &contentType = "text/plain");
        static Reply empty(int status);
        static Reply neverAnswer();
        static Reply closeWithoutAnswer();
        static Reply stallMidBody(int status, const QByteArray &body, qsizetype partialBytes);
        static Reply closeMidBody(int status, const QByteArray &body, qsizetype partialBytes);
        static Reply resetMidBody(int status, const QByteArray &body, qsizetype partialBytes);
        static Reply trickle(int status, const QByteArray &body, qsizetype pieceBytes,
                             std::chrono::milliseconds interval);
        static Reply endless(int status, std::optional<qint64> declaredLength = std::nullopt);
        // A redirect to `location`; nothing = no Location header.
        static Reply redirect(int status, const std::optional<QUrl> &location);
        Reply withDelay(std::chrono::milliseconds d) const;
        Reply withHeader(const QByteArray &name, const QByteArray &value) const;
    };

    // One received request, as the client sent it.
    struct Request
    {
        QByteArray method;
        QString path;             // decoded path, without the query
        QUrlQuery query;
        Headers headers;          // in the order received, names as sent
        QByteArray body;
        QJsonValue json;          // the parsed body; Undefined when the body is not JSON
        int connectionId = 0;     // requests on one kept-alive connection share it

        // Case-insensitive header lookup; nothing when the header is absent.
        std::optional<QByteArray> header(const QByteArray &name) const;
        QString queryValue(const QString &key) const { return query.queryItemValue(key, QUrl::FullyDecoded); }
        QJsonObject jsonObject() const;
    };

    using Handler = std::function<Reply(const Request &)>;

    explicit HttpFake(QObject *parent = nullptr);
    ~HttpFake() override;

    // Listens on address:port (port 0 = an ephemeral port). False when the port is taken.
    bool listen(quint16 port = 0, const QHostAddress &address = QHostAddress::LocalHost);
    quint16 port() const;
    // "http://127.0.0.1:<port>" — no path, no trailing slash.
    QUrl baseUrl() const;
    // An address on 127.0.0.1 whose port nothing listens on: connecting is refused.
    static QUrl refusedUrl();

    void setReply(const QString &pathKey, const Reply &reply);
    void setHandler(const QString &pathKey, Handler handler);
    void enqueueReply(const QString &pathKey, const Reply &reply);
    void clearScripts();

    // Requests to paths under `pathPrefix` ("/api/" by default) must carry
    // "Authorization: Bearer <token>"; others are answered 401. Nothing = no check.
    void requireBearer(const std::optional<QString> &token, const QString &pathPrefix = QStringLiteral("/api/"));
    // As above, but any access token the hosted-authentication stand-in issued and has not revoked passes.
    void requireIssuedBearer(const QString &pathPrefix = QStringLiteral("/api/"));

    // The hosted-authentication stand-in ("/auth/v1/signup", "/auth/v1/token", "/auth/v1/resend",
    // "/auth/v1/logout"), created and enabled on first use.
    HttpFakeAuth &auth();

    QList<Request> requests() const { return m_log; }
    QList<Request> requests(const QString &path) const;
    Request lastRequest(const QString &path) const;
    int count(const QString &path) const;
    int totalCount() const { return int(m_log.size()); }
    void clearLog();

    // Connections the client closed before its answer was completely sent (an aborted or
    // timed-out request), per path and in all.
    int abortedCount(const QString &path) const { return m_aborted.value(path); }
    int abortedCount() const;
    int openConnections() const;

signals:
    void requestReceived(const HttpFake::Request &request);
    // The client closed the connection while `path` was still unanswered or half answered.
    void clientAborted(const QString &path);

private:
    struct Connection;

    void onNewConnection();
    void onReadyRead(Connection *connection);
    void onDisconnected(Connection *connection);
    void parseBuffered(Connection *connection);
    bool tryParseRequest(Connection *connection);
    Reply answerFor(const Request &request);
    std::optional<Reply> bearerRejection(const Request &request) const;
    void startReply(Connection *connection, const Reply &reply);
    void writeReply(Connection *connection, const Reply &reply);
    void writeTrickle(Connection *connection, const Reply &reply);
    void writeEndless(Connection *connection, const Reply &reply);
    void finishPending(Connection *connection);

    QTcpServer *m_server = nullptr;
    QHash<QString, QList<Reply>> m_queued;
    QHash<QString, Handler> m_handlers;
    QList<Request> m_log;
    QHash<QString, int> m_aborted;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::unique_ptr<HttpFakeAuth> m_auth;
    enum class BearerMode { None, Fixed, Issued } m_bearerMode = BearerMode::None;
    QString m_bearerToken;
    QString m_bearerPrefix;
    int m_nextConnectionId = 1;
};

Q_DECLARE_METATYPE(HttpFake::Request)
