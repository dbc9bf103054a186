// The transport's own rules, on raw sockets against the real server: which framings are read
// (and read alike), and when a connection ends (request counts, idle and head deadlines, bodies
// that stall or trickle).
#include "BusyMachine.h"
#include "RawHttp.h"
#include "ServerClients.h"

#include <QtTest>

using RawHttp::statuses;

namespace {

// The head of `request` with every header name spelled by `spell` (the request line and the
// values as they are).
QByteArray respelled(const QByteArray &request, QByteArray (QByteArray::*spell)() const &)
{
    const qsizetype headEnd = request.indexOf("\r\n\r\n");
    QList<QByteArray> lines = request.left(headEnd).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        lines[i] = (lines[i].left(colon).*spell)() + lines[i].mid(colon);
    }
    return lines.join('\n') + request.mid(headEnd);
}

// A bound on how long the server may take: on a busy machine its timers fire late, so only a
// loose bound is held then (the figure is reported).
int allowedMs(int ms)
{
    return BusyMachine::loadPerCore() < 1 ? ms : std::max(ms * 4, 10000);
}

} // namespace

class TestServerTransport : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServerClients> clients;
    quint16 port = 0;

    QByteArray withToken(QByteArray request) const { return request.replace("%TOKEN%", clients->bearer()); }

private slots:
    void initTestCase()
    {
        clients = std::make_unique<ServerClients>();
        QCOMPARE(clients->startWithBackup(R"({"kept":true})"), QString());
        port = quint16(clients->server.baseUrl().port());
    }

    // Forms a strict reading still accepts: the target in absolute form, empty lines before a
    // request line, an HTTP/1.0 request without Host.
    void framingsAnswered_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QList<int>>("answered");
        const QByteArray last = "Host: x\r\nConnection: close\r\n\r\n";
        QTest::newRow("absolute form") << "GET http://cantorella.example.com/healthz HTTP/1.1\r\n" + last << QList<int>{200};
        QTest::newRow("absolute form: https, a port, a query")
            << "GET HTTPS://cantorella.example.com:8443/healthz?probe=1 HTTP/1.1\r\n" + last << QList<int>{200};
        QTest::newRow("absolute form of an unknown path") << "GET http://x/nowhere HTTP/1.1\r\n" + last << QList<int>{404};
        QTest::newRow("an empty line first") << "\r\nGET /healthz HTTP/1.1\r\n" + last << QList<int>{200};
        QTest::newRow("empty lines before and between requests")
            << "\r\n\r\nGET /healthz HTTP/1.1\r\nHost: x\r\n\r\n\r\nGET /healthz HTTP/1.1\r\n" + last << QList<int>{200, 200};
        QTest::newRow("HTTP/1.0 without Host") << QByteArray("GET /healthz HTTP/1.0\r\n\r\n") << QList<int>{200};
    }

    void framingsAnswered()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QList<int>, answered);
        const RawHttp::Exchange exchange = RawHttp::exchange(port, bytes);
        QCOMPARE(statuses(exchange.received), answered);
        QVERIFY(exchange.closedByServer);
    }

    // Header names are read in any case: the answer is the one to the same request in title case,
    // byte for byte.
    void headerNamesInAnyCase_data()
    {
        QTest::addColumn<QByteArray>("request");
        const QByteArray song = R"({"title":"Amazing Grace","artist":"Traditional","duration":82})";
        QTest::newRow("lyrics") << "POST /api/track HTTP/1.1\r\nHost: x\r\nAuthorization: %TOKEN%\r\nContent-Type: application/json\r\n"
                                   "Content-Length: " + QByteArray::number(song.size()) + "\r\nConnection: close\r\n\r\n" + song;
        QTest::newRow("backup download")
            << QByteArray("GET /api/backup?namespace=en HTTP/1.1\r\nHost: x\r\nAuthorization: %TOKEN%\r\nConnection: close\r\n\r\n");
        QTest::newRow("a body after 100 Continue")
            << "POST /api/track HTTP/1.1\r\nHost: x\r\nAuthorization: %TOKEN%\r\nExpect: 100-continue\r\n"
               "Content-Length: " + QByteArray::number(song.size()) + "\r\nConnection: close\r\n\r\n" + song;
    }

    void headerNamesInAnyCase()
    {
        QFETCH(QByteArray, request);
        request = withToken(request);
        const QByteArray titled = RawHttp::exchange(port, request).received;
        QVERIFY2(titled.startsWith("HTTP/1.1 ") && titled.contains("Connection: close\r\n") && titled.endsWith('}'), titled.constData());
        QCOMPARE(RawHttp::exchange(port, respelled(request, &QByteArray::toLower)).received, titled);
        QCOMPARE(RawHttp::exchange(port, respelled(request, &QByteArray::toUpper)).received, titled);
    }

    // HEAD is answered as GET is, with the same head (status, length, type) and no byte of the
    // body, and the connection goes on after it. A route that takes only POST refuses both alike.
    void headAnsweredAsGet_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        QTest::newRow("health check") << QByteArray("/healthz") << 200;
        QTest::newRow("a stored backup") << QByteArray("/api/backup?namespace=en") << 200;
        QTest::newRow("a route of POST only") << QByteArray("/api/track") << 405;
    }

    void headAnsweredAsGet()
    {
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QTcpSocket socket;
        QVERIFY(RawHttp::connect(socket, port));
        const auto request = [&](const QByteArray &method) {
            socket.write(withToken(method + " " + target + " HTTP/1.1\r\nHost: x\r\nAuthorization: %TOKEN%\r\n\r\n"));
        };
        QByteArray pending;
        request("GET");
        const QByteArray get = RawHttp::nextAnswer(socket, pending);
        QVERIFY2(get.startsWith("HTTP/1.1 " + QByteArray::number(status)), get.constData());
        const QByteArray getHead = get.left(get.indexOf("\r\n\r\n") + 4);
        QVERIFY(getHead.contains("\r\nContent-Length: "));
        request("HEAD");
        socket.write("GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n");
        pending += RawHttp::readUntil(socket, "\r\n\r\n");
        QVERIFY2(pending.startsWith(getHead), pending.constData());
        pending.remove(0, getHead.size());
        // Nothing of the body came: what follows is the next request's answer, on the same connection.
        QVERIFY2(RawHttp::nextAnswer(socket, pending).startsWith("HTTP/1.1 200"), pending.constData());
        QVERIFY(pending.isEmpty());
    }

    // When a connection ends, step by step on one connection: "send BYTES"; "answer STATUS" (the
    // next whole answer, without Connection: close) or "answer STATUS close"; "open MS" (still
    // open that long); "closed MS" (ended within MS of the last send or answer).
    void connectionEnds_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArrayList>("steps");
        const QByteArray get = "send GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n";
        const QByteArray stalled = "send POST /api/track HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n{\"title\"";
        const QByteArray stalledUpload = "send PUT /api/backup?namespace=en HTTP/1.1\r\nHost: x\r\nAuthorization: %TOKEN%\r\n"
                                         "Content-Length: 100\r\n\r\n{\"library\"";
        const QStringList headTimeout{QStringLiteral("--header-timeout"), QStringLiteral("1")};
        QTest::newRow("keep-alive max 3: the third answer closes")
            << QStringList{QStringLiteral("--keep-alive-max"), QStringLiteral("3")}
            << QByteArrayList{get, "answer 200", get, "answer 200", get, "answer 200 close", "closed 2000"};
        QTest::newRow("keep-alive timeout 1: idle, ended within 2 s")
            << QStringList{QStringLiteral("--keep-alive-timeout"), QStringLiteral("1")}
            << QByteArrayList{get, "answer 200", "open 500", "closed 2000"};
        QTest::newRow("a later head in two pieces after the head deadline")
            << headTimeout + QStringList{QStringLiteral("--keep-alive-timeout"), QStringLiteral("30")}
            << QByteArrayList{get, "answer 200", "open 1500", "send GET /healthz HTTP/1.1\r\n", "open 500", "send Host: x\r\n\r\n",
                              "answer 200"};
        QTest::newRow("a stalled body: ended after the head deadline") << headTimeout << QByteArrayList{stalled, "closed 3000"};
        QTest::newRow("a stalled upload: ended after the head deadline") << headTimeout << QByteArrayList{stalledUpload, "closed 3000"};
    }

    void connectionEnds()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArrayList, steps);
        ServerClients server(arguments);
        QCOMPARE(server.start(), QString());
        server.signUpNew();
        QTcpSocket socket;
        QVERIFY(RawHttp::connect(socket, quint16(server.server.baseUrl().port())));
        QByteArray pending;
        QElapsedTimer mark;
        mark.start();
        for (const QByteArray &step : steps) {
            const QByteArray verb = step.left(step.indexOf(' '));
            const QByteArray rest = step.mid(verb.size() + 1);
            if (verb == "send") {
                socket.write(QByteArray(rest).replace("%TOKEN%", server.bearer()));
                QVERIFY(socket.waitForBytesWritten(5000));
                mark.start();
            } else if (verb == "answer") {
                const QByteArray answer = RawHttp::nextAnswer(socket, pending);
                QVERIFY2(answer.startsWith("HTTP/1.1 " + rest.left(3)), step + " got: " + answer);
                QCOMPARE(answer.contains("\r\nConnection: close\r\n"), rest.endsWith(" close"));
                mark.start();
            } else if (verb == "open") {
                QVERIFY2(!socket.waitForDisconnected(rest.toInt()), step.constData());
            } else if (verb == "closed") {
                const int within = allowedMs(rest.toInt());
                if (socket.state() == QAbstractSocket::ConnectedState)
                    socket.waitForDisconnected(std::max<int>(0, within - int(mark.elapsed())));
                qInfo("ended after %lld ms (allowed %d)", mark.elapsed(), within);
                QVERIFY2(socket.state() != QAbstractSocket::ConnectedState, step.constData());
            } else {
                QFAIL(step.constData());
            }
        }
    }

    // A body trickled a byte every 0.8 s (each byte well within the head time-out) is cut once
    // the time spent waiting for it passes the head time-out plus what its bytes allow at the
    // minimum rate: not before, and not long after. The server logs the cut with its figures.
    void trickledBodyIsCutByItsRate()
    {
        constexpr int headerTimeoutMs = 2000;
        constexpr int minimumBytesPerSecond = 4096;
        ServerClients server(QStringList{QStringLiteral("--header-timeout"), QString::number(headerTimeoutMs / 1000)});
        QCOMPARE(server.start(), QString());
        QTcpSocket socket;
        QVERIFY(RawHttp::connect(socket, quint16(server.server.baseUrl().port())));
        QElapsedTimer sinceHead; // started before the head leaves: the server's wait starts later
        sinceHead.start();
        socket.write("POST /api/track HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n");
        const QByteArray body = R"({"title":"x","artist":"y"})";
        qsizetype sent = 0;
        while (sent < body.size() && socket.state() == QAbstractSocket::ConnectedState) {
            socket.write(body.mid(sent++, 1));
            socket.waitForDisconnected(800);
        }
        if (socket.state() == QAbstractSocket::ConnectedState)
            socket.waitForDisconnected(30000);
        const qint64 closedAfter = sinceHead.elapsed();
        const qint64 allowed = headerTimeoutMs + sent * 1000 / minimumBytesPerSecond;
        QVERIFY(server.server.waitForLog("body too slow: "));
        static const QRegularExpression figures(QStringLiteral(R"(body too slow: (\d+) bytes in (\d+) ms of waiting)"));
        const QRegularExpressionMatch logged = figures.match(QString::fromUtf8(server.server.log()));
        QVERIFY(logged.hasMatch());
        qInfo("closed after %lld ms, %lld bytes sent (allowed %lld ms); logged: %s", closedAfter, qint64(sent), allowed,
              qPrintable(logged.captured(0)));
        QVERIFY(logged.captured(2).toLongLong() >= headerTimeoutMs + logged.captured(1).toLongLong() * 1000 / minimumBytesPerSecond);
        QVERIFY2(closedAfter >= allowed && closedAfter <= 2 * allowed, QByteArray::number(closedAfter).constData());
    }
};

QTEST_GUILESS_MAIN(TestServerTransport)
#include "tst_servertransport.moc"
