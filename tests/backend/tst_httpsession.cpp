#include "HttpFake.h"
#include "TaskRunner.h"

#include "platform/HttpSession.h"

#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <sys/socket.h>

using namespace std::chrono_literals;
using Reply = HttpFake::Reply;
using Kind = Http::TransportError::Kind;

Q_DECLARE_METATYPE(HttpFake::Reply)
Q_DECLARE_METATYPE(Http::TransportError::Kind)

namespace {

Http::Request get(const QUrl &url, std::chrono::milliseconds timeout = 5s)
{
    Http::Request request;
    request.url = url;
    request.timeout = timeout;
    return request;
}

// Answers every connection with fixed bytes once the request's head is in, then ends the
// connection as told: a close (FIN), a reset (RST), or not at all. Raw bytes, so that an answer
// can be cut where no HTTP server would cut it.
class RawServer : public QObject
{
public:
    enum class End { close, reset, keepOpen };

    RawServer(QByteArray answer, End end)
        : m_answer(std::move(answer))
        , m_end(end)
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { respond(socket); });
        });
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(m_server.serverPort())); }

private:
    void respond(QTcpSocket *socket)
    {
        m_heads[socket] += socket->readAll();
        if (!m_heads[socket].contains("\r\n\r\n"))
            return;
        m_heads.remove(socket);
        socket->write(m_answer);
        socket->flush();
        if (m_end == End::reset) {
            const linger resetOnClose{1, 0};
            ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &resetOnClose, sizeof resetOnClose);
            socket->abort();
        } else if (m_end == End::close) {
            socket->disconnectFromHost();
        }
    }

    QTcpServer m_server;
    QByteArray m_answer;
    End m_end;
    QHash<QTcpSocket *, QByteArray> m_heads;
};

} // namespace

Q_DECLARE_METATYPE(RawServer::End)

class TestHttpSession : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        server = std::make_unique<HttpFake>();
        QVERIFY(server->listen());
    }

    // Every HTTP answer comes back with its status and body, error statuses included.
    void answers_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");

        QTest::newRow("200 json") << Reply::json(200, QJsonObject{{"ok", true}}) << 200 << QByteArray(R"({"ok":true})");
        QTest::newRow("201 empty") << Reply::empty(201) << 201 << QByteArray();
        QTest::newRow("204") << Reply::empty(204) << 204 << QByteArray();
        QTest::newRow("400 json") << Reply::json(400, QJsonObject{{"error", "bad"}}) << 400 << QByteArray(R"({"error":"bad"})");
        QTest::newRow("401") << Reply::json(401, QJsonObject{}) << 401 << QByteArray("{}");
        QTest::newRow("404 text") << Reply::text(404, "nope") << 404 << QByteArray("nope");
        QTest::newRow("413") << Reply::empty(413) << 413 << QByteArray();
        QTest::newRow("500 html") << Reply::text(500, "<h1>down</h1>", "text/html") << 500 << QByteArray("<h1>down</h1>");
        QTest::newRow("503 empty") << Reply::empty(503) << 503 << QByteArray();
        QTest::newRow("302 with Location, not followed")
            << Reply::redirect(302, QUrl("http://127.0.0.1:1/elsewhere")) << 302 << QByteArray();
        QTest::newRow("302 without Location") << Reply::redirect(302, std::nullopt) << 302 << QByteArray();
        QTest::newRow("slow, within the idle time-out") << Reply::json(200, QJsonObject{}).withDelay(150ms) << 200
                                                        << QByteArray("{}");
    }

    void answers()
    {
        QFETCH(Reply, reply);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        server->setReply("/x", reply);

        HttpSession session;
        const Http::Response response = TaskRunner::run(session.send(get(urlFor("/x"), 2s)));
        QCOMPARE(response.status, std::optional<int>(status));
        QCOMPARE(response.body, body);
    }

    void sendsTheRequestAsBuilt()
    {
        server->setReply("/api/backup", Reply::json(200, QJsonObject{}));
        HttpSession::Configuration configuration;
        configuration.defaultHeaders = {qMakePair(QByteArray("Accept"), QByteArray("application/json")),
                                        qMakePair(QByteArray("X-Default"), QByteArray("session"))};
        HttpSession session(configuration);

        Http::Request request = get(Http::urlByAppending(server->baseUrl(), "/api/backup", {{"namespace", "en"}}));
        request.method = "PUT";
        request.setHeader("Content-Type", "application/json");
        request.setHeader("X-Default", "request");
        request.body = R"({"a":1,"b":"zwei"})";
        TaskRunner::run(session.send(request));

        QCOMPARE(server->count("/api/backup"), 1);
        const HttpFake::Request seen = server->lastRequest("/api/backup");
        QCOMPARE(seen.method, QByteArray("PUT"));
        QCOMPARE(seen.queryValue("namespace"), QString("en"));
        QCOMPARE(seen.header("accept"), std::optional<QByteArray>("application/json"));
        QCOMPARE(seen.header("x-default"), std::optional<QByteArray>("request")); // the request's own value wins
        QCOMPARE(seen.header("Content-Type"), std::optional<QByteArray>("application/json"));
        QCOMPARE(seen.jsonObject(), (QJsonObject{{"a", 1}, {"b", "zwei"}}));
    }

    // A body far larger than one write goes out whole and in order.
    void largeBodyArrivesWhole()
    {
        server->setReply("/api/backup", Reply::json(200, QJsonObject{}));
        QByteArray body(3 * 1024 * 1024 + 17, '\0');
        for (qsizetype i = 0; i < body.size(); ++i)
            body[i] = char('a' + i % 23);
        Http::Request request = get(urlFor("/api/backup"));
        request.method = "PUT";
        request.body = body;
        HttpSession session;
        QCOMPARE(TaskRunner::run(session.send(request)).status, std::optional<int>(200));
        QCOMPARE(server->lastRequest("/api/backup").body, body);
    }

    // Failures below HTTP are told apart, and a time-out is never reported as a cancellation.
    void transportFailures_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<bool>("clientAborts");

        QTest::newRow("no answer") << Reply::neverAnswer() << Kind::timedOut << true;
        QTest::newRow("answer later than the idle time-out")
            << Reply::json(200, QJsonObject{}).withDelay(2s) << Kind::timedOut << true;
        QTest::newRow("stalls mid-body") << Reply::stallMidBody(200, R"({"lyrics":"[00:01.00] la la"})", 10)
                                         << Kind::timedOut << true;
        QTest::newRow("closed without answer") << Reply::closeWithoutAnswer() << Kind::networkConnectionLost << false;
        QTest::newRow("closed mid-body") << Reply::closeMidBody(200, R"({"lyrics":"[00:01.00] la la"})", 10)
                                         << Kind::networkConnectionLost << false;
        QTest::newRow("reset mid-body") << Reply::resetMidBody(200, QByteArray(1000, ' '), 500)
                                        << Kind::networkConnectionLost << false;
        QTest::newRow("404 cut short") << Reply::closeMidBody(404, QByteArray(1000, ' '), 500)
                                       << Kind::networkConnectionLost << false;
    }

    // Each piece of a slow body restarts the idle time-out.
    void tricklingBodyWithinTheIdleTimeout()
    {
        const QByteArray body = R"({"lyrics":"[00:01.00] la la la"})";
        server->setReply("/x", Reply::trickle(200, body, 8, 200ms));
        HttpSession session;
        const Http::Response response = TaskRunner::run(session.send(get(urlFor("/x"), 300ms)));
        QCOMPARE(response.status, std::optional<int>(200));
        QCOMPARE(response.body, body);
    }

    void answerSizeLimit_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("at the limit") << Reply::text(200, QByteArray(1000, 'a')) << true;
        QTest::newRow("a byte over, declared") << Reply::text(200, QByteArray(1001, 'a')) << false;
        QTest::newRow("over, declared, error status") << Reply::text(500, QByteArray(1001, 'a')) << false;
        QTest::newRow("chunked without end") << Reply::endless(200) << false;
    }

    void answerSizeLimit()
    {
        QFETCH(Reply, reply);
        QFETCH(bool, accepted);
        server->setReply("/x", reply);
        Http::Request request = get(urlFor("/x"));
        request.maximumAnswerSize = 1000;

        HttpSession session;
        try {
            const Http::Response response = TaskRunner::run(session.send(request));
            QVERIFY(accepted);
            QCOMPARE(response.body, reply.body);
        } catch (const Http::TransportError &error) {
            QVERIFY2(!accepted, error.what());
            QCOMPARE(error.kind(), Kind::dataLengthExceedsMaximum);
        }
    }

    void transportFailures()
    {
        QFETCH(Reply, reply);
        QFETCH(Kind, kind);
        QFETCH(bool, clientAborts);
        server->setReply("/x", reply);

        HttpSession session;
        try {
            TaskRunner::run(session.send(get(urlFor("/x"), 300ms)));
            QFAIL("expected a transport error");
        } catch (const Http::TransportError &error) {
            QCOMPARE(error.kind(), kind);
        }
        if (clientAborts)
            QTRY_COMPARE(server->abortedCount("/x"), 1);
    }

    // A chunked answer ends with its zero-length chunk; one that stops before it was cut short,
    // however the connection ended. Qt sometimes reports such an answer as complete, so every
    // case is tried many times.
    void chunkedAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<RawServer::End>("end");
        QTest::addColumn<bool>("complete");

        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n";
        const QByteArray first = "6\r\n{\"a\":1\r\n";
        const QByteArray last = "1\r\n}\r\n0\r\n\r\n";
        using End = RawServer::End;
        QTest::newRow("whole, then closed") << head + first + last << End::close << true;
        QTest::newRow("whole, kept open") << head + first + last << End::keepOpen << true;
        QTest::newRow("whole, with chunk extensions and a trailer")
            << head + "6;name=value\r\n{\"a\":1\r\n1 ; x\r\n}\r\n0\r\nX-Checksum: 1\r\n\r\n" << End::keepOpen << true;
        QTest::newRow("closed after the first chunk") << head + first << End::close << false;
        QTest::newRow("reset after the first chunk") << head + first << End::reset << false;
        QTest::newRow("closed inside a chunk") << head + first.left(6) << End::close << false;
        QTest::newRow("closed inside a chunk size") << head + first + "1" << End::close << false;
        QTest::newRow("closed after the headers") << head << End::close << false;
    }

    void chunkedAnswers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(RawServer::End, end);
        QFETCH(bool, complete);
        RawServer server(answer, end);
        HttpSession session;
        for (int round = 0; round < 40; ++round) {
            try {
                const Http::Response response = TaskRunner::run(session.send(get(server.url(), 2s)));
                QVERIFY2(complete, qPrintable(QStringLiteral("round %1: a cut answer came back as %2 \"%3\"")
                                                  .arg(round)
                                                  .arg(response.status.value_or(0))
                                                  .arg(QString::fromUtf8(response.body))));
                QCOMPARE(response.body, QByteArray(R"({"a":1})"));
            } catch (const Http::TransportError &error) {
                QVERIFY2(!complete, error.what());
                QCOMPARE(error.kind(), Kind::networkConnectionLost);
            }
        }
    }

    // Sending a request again after its connection closed without an answer: only an idempotent
    // one, and only after a close on a connection kept from an earlier exchange.
    void sendAgainAfterEarlyClose_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<bool>("reused");
        QTest::addColumn<bool>("again");
        for (const char *method : {"GET", "HEAD", "PUT", "DELETE", "OPTIONS", "POST", "PATCH", "get", "CONNECT"}) {
            const bool idempotent = QByteArrayList{"GET", "HEAD", "PUT", "DELETE", "OPTIONS"}.contains(method);
            QTest::addRow("%s, reused connection", method) << QByteArray(method) << true << idempotent;
            QTest::addRow("%s, new connection", method) << QByteArray(method) << false << false;
        }
    }

    void sendAgainAfterEarlyClose()
    {
        QFETCH(QByteArray, method);
        QFETCH(bool, reused);
        QFETCH(bool, again);
        QCOMPARE(Http::maySendAgainAfterEarlyClose(method, reused), again);
    }

    // Every exchange has a connection of its own, so a close before the answer's first byte is the
    // failure for every method: the server sees the request once (a sign-up or upload is never
    // made twice). A close after answer bytes came is a cut answer, also sent once.
    void earlyCloseSendsOnce_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<Reply>("reply");
        for (const char *method : {"GET", "PUT", "POST", "DELETE"}) {
            QTest::addRow("%s, closed before the answer", method) << QByteArray(method) << Reply::closeWithoutAnswer();
            QTest::addRow("%s, closed mid-body", method)
                << QByteArray(method) << Reply::closeMidBody(200, QByteArray(100, ' '), 10);
        }
    }

    void earlyCloseSendsOnce()
    {
        QFETCH(QByteArray, method);
        QFETCH(Reply, reply);
        server->setReply("/x", reply);
        Http::Request request = get(urlFor("/x"), 2s);
        request.method = method;
        if (method != "GET")
            request.body = R"({"email":"a@b.c"})";
        HttpSession session;
        try {
            TaskRunner::run(session.send(request));
            QFAIL("expected a transport error");
        } catch (const Http::TransportError &error) {
            QCOMPARE(error.kind(), Kind::networkConnectionLost);
        }
        // A second copy would have been sent and ended before send() gave up.
        QCOMPARE(server->count("/x"), 1);
    }

    // The answer is never compressed, whatever the caller asked for.
    void asksForIdentityEncoding()
    {
        server->setReply("/x", Reply::json(200, QJsonObject{}));
        HttpSession::Configuration configuration;
        configuration.defaultHeaders = {qMakePair(QByteArray("Accept-Encoding"), QByteArray("gzip"))};
        HttpSession session(configuration);
        for (const QByteArray method : {"GET", "POST"}) {
            Http::Request request = get(urlFor("/x"));
            request.method = method;
            TaskRunner::run(session.send(request));
            QCOMPARE(server->lastRequest("/x").header("accept-encoding"), std::optional<QByteArray>("identity"));
        }
    }

    void refusedPort()
    {
        HttpSession session;
        try {
            TaskRunner::run(session.send(get(HttpFake::refusedUrl())));
            QFAIL("expected a transport error");
        } catch (const Http::TransportError &error) {
            QCOMPARE(error.kind(), Kind::cannotConnectToHost);
        }
    }

    // The whole-transfer limit holds even when the idle time-out would allow more.
    void wholeTransferLimit()
    {
        server->setReply("/x", Reply::json(200, QJsonObject{}).withDelay(3s));
        HttpSession session(HttpSession::Configuration{{}, 300ms});
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY_THROWS_EXCEPTION(Http::TransportError, TaskRunner::run(session.send(get(urlFor("/x"), 10s))));
        QVERIFY(elapsed.elapsed() < 2500);
        QTRY_COMPARE(server->abortedCount("/x"), 1);
    }

    void cancellation()
    {
        server->setReply("/x", Reply::neverAnswer());
        HttpSession session;
        CancellationToken token;
        auto outcome = TaskRunner::start(session.send(get(urlFor("/x")), token));
        QTRY_COMPARE(server->count("/x"), 1);
        token.cancel();
        QVERIFY(TaskRunner::waitUntilDone(outcome, 2s));
        QVERIFY_THROWS_EXCEPTION(CancelledError, outcome->take());
        QTRY_COMPARE(server->abortedCount("/x"), 1);
    }

    void alreadyCancelledSendsNothing()
    {
        HttpSession session;
        CancellationToken token;
        token.cancel();
        QVERIFY_THROWS_EXCEPTION(CancelledError, TaskRunner::run(session.send(get(urlFor("/x")), token)));
        QTest::qWait(50);
        QCOMPARE(server->totalCount(), 0);
    }

    void fakeRequiresTheBearer()
    {
        server->requireBearer(QStringLiteral("t0k3n"));
        server->setReply("/api/track", Reply::json(200, QJsonObject{}));
        HttpSession session;
        Http::Request request = get(urlFor("/api/track"));
        QCOMPARE(TaskRunner::run(session.send(request)).status, std::optional<int>(401));
        request.setHeader("Authorization", "Bearer t0k3n");
        QCOMPARE(TaskRunner::run(session.send(request)).status, std::optional<int>(200));
        QCOMPARE(server->count("/api/track"), 2);
    }

    void urlByAppending_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("path");
        QTest::addColumn<Http::QueryItems>("query");
        QTest::addColumn<QString>("expected");

        QTest::newRow("origin") << "https://api.example.com" << "/api/track" << Http::QueryItems{}
                                << "https://api.example.com/api/track";
        QTest::newRow("trailing slash") << "https://api.example.com/" << "/api/track" << Http::QueryItems{}
                                        << "https://api.example.com/api/track";
        QTest::newRow("path without slash") << "https://api.example.com" << "api/track" << Http::QueryItems{}
                                            << "https://api.example.com/api/track";
        QTest::newRow("base with a path") << "http://127.0.0.1:8787/prefix" << "/api/track" << Http::QueryItems{}
                                          << "http://127.0.0.1:8787/prefix/api/track";
        QTest::newRow("one item") << "https://api.example.com" << "/api/backup" << Http::QueryItems{{"namespace", "en"}}
                                  << "https://api.example.com/api/backup?namespace=en";
        QTest::newRow("two items") << "https://auth.example.com" << "/auth/v1/token"
                                   << Http::QueryItems{{"grant_type", "password"}, {"x", "a b"}}
                                   << "https://auth.example.com/auth/v1/token?grant_type=password&x=a%20b";
    }

    void urlByAppending()
    {
        QFETCH(QString, base);
        QFETCH(QString, path);
        QFETCH(Http::QueryItems, query);
        QFETCH(QString, expected);
        QCOMPARE(Http::urlByAppending(QUrl(base), path, query).toString(QUrl::FullyEncoded), expected);
    }

private:
    QUrl urlFor(const QString &path) const { return Http::urlByAppending(server->baseUrl(), path); }

    std::unique_ptr<HttpFake> server;
};

QTEST_GUILESS_MAIN(TestHttpSession)
#include "tst_httpsession.moc"
