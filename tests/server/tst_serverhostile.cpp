// Clients that attack the HTTP layer itself: request-smuggling shapes, refusals followed by more
// requests on the same connection, slow heads from many connections, a full worker pool, and
// request lines meant for the log. Everything on loopback, against the real server process.
#include "ServerClients.h"

#include "platform/SqliteDatabase.h"

#include <QDir>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

struct Exchange
{
    QByteArray received;
    bool closedByServer = false;
};

// Sends `bytes` on a new connection, then reads until the server closes it (or `waitMs` passes).
Exchange exchange(quint16 port, const QByteArray &bytes, int waitMs = 10000)
{
    Exchange result;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return result;
    socket.write(bytes);
    QDeadlineTimer deadline(waitMs);
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(100);
        result.received += socket.readAll();
    }
    result.received += socket.readAll();
    result.closedByServer = socket.state() != QAbstractSocket::ConnectedState;
    return result;
}

// Reads from `socket` until what came contains `marker` (or `waitMs` passes); answers what came.
QByteArray readUntil(QTcpSocket &socket, const QByteArray &marker, int waitMs = 10000)
{
    QByteArray received = socket.readAll();
    QDeadlineTimer deadline(waitMs);
    while (!received.contains(marker) && !deadline.hasExpired()) {
        socket.waitForReadyRead(100);
        received += socket.readAll();
    }
    return received;
}

// The status codes of every answer in `received`, in order.
QList<int> statuses(const QByteArray &received)
{
    QList<int> found;
    for (qsizetype at = received.indexOf("HTTP/1.1 "); at >= 0; at = received.indexOf("HTTP/1.1 ", at + 1))
        found << received.mid(at + 9, 3).toInt();
    return found;
}

} // namespace

class TestServerHostile : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServerClients> clients;
    quint16 port = 0;

private slots:
    void initTestCase()
    {
        clients = std::make_unique<ServerClients>();
        QCOMPARE(clients->start(), QString());
        port = quint16(clients->server.baseUrl().port());
        clients->signUpNew();
        QCOMPARE(clients->send("PUT", "/api/backup?namespace=en", R"({"kept":true})", {{"Authorization", clients->bearer()}}).status, 200);
    }

    QByteArray storedBackup()
    {
        return clients->send("GET", "/api/backup?namespace=en", {}, {{"Authorization", clients->bearer()}}).body;
    }

    // Each request is answered once and its connection ends: whatever follows on it (a second
    // request hidden in a body, or one framed another way) is never answered.
    void oneAnswerThenClose_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        const QByteArray smuggled = "GET /nosuch-smuggled HTTP/1.1\r\nHost: x\r\n\r\n";
        const QByteArray chunkedEnd = "0\r\n\r\n";
        const QByteArray post = "POST /auth/v1/logout HTTP/1.1\r\nHost: x\r\n";
        const QByteArray put = "PUT /api/backup?namespace=en HTTP/1.1\r\nHost: x\r\nAuthorization: %TOKEN%\r\n";

        QTest::newRow("length, then chunked")
            << post + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkedEnd + smuggled << 400;
        QTest::newRow("chunked, then length")
            << post + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n" + chunkedEnd + smuggled << 400;
        QTest::newRow("backup: length and chunked")
            << put + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n" + "5\r\n{\"a\":\r\n" + chunkedEnd + smuggled << 400;
        QTest::newRow("two different lengths")
            << post + "Content-Length: 2\r\nContent-Length: 45\r\n\r\n{}" + smuggled << 400;
        QTest::newRow("a list of different lengths") << post + "Content-Length: 2, 45\r\n\r\n{}" + smuggled << 400;
        QTest::newRow("unknown transfer coding") << post + "Transfer-Encoding: gzip\r\n\r\n" + smuggled << 400;
        QTest::newRow("chunked not last") << post + "Transfer-Encoding: chunked, gzip\r\n\r\n" + smuggled << 400;
        QTest::newRow("chunked twice")
            << post + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkedEnd + smuggled << 400;
        QTest::newRow("space before the colon")
            << post + "Transfer-Encoding : chunked\r\nContent-Length: 5\r\n\r\n" + chunkedEnd + smuggled << 400;
        QTest::newRow("bad chunk size") << put + "Transfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n" + chunkedEnd + smuggled << 400;
        QTest::newRow("chunk size overflowing")
            << put + "Transfer-Encoding: chunked\r\n\r\n10000000000000002\r\n{}\r\n" + chunkedEnd + smuggled << 400;

        // Refusals that leave the body unread: the body (a request itself) is never parsed.
        QTest::newRow("413: a body to a route without one")
            << "GET /healthz HTTP/1.1\r\nHost: x\r\nContent-Length: " + QByteArray::number(smuggled.size()) + "\r\n\r\n" + smuggled
            << 413;
        QTest::newRow("411: a POST without a length") << post + "\r\n" + smuggled << 411;
        QTest::newRow("401: a backup without a token")
            << "PUT /api/backup?namespace=en HTTP/1.1\r\nHost: x\r\nContent-Length: " + QByteArray::number(smuggled.size())
                   + "\r\n\r\n" + smuggled
            << 401;
        QTest::newRow("404: a body to an unknown path")
            << "POST /nowhere HTTP/1.1\r\nHost: x\r\nContent-Length: " + QByteArray::number(smuggled.size()) + "\r\n\r\n" + smuggled
            << 404;
        QTest::newRow("413: a backup over the limit by its length")
            << put + "Content-Length: 1099511627776\r\n\r\n" + smuggled << 413;
    }

    void oneAnswerThenClose()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        bytes.replace("%TOKEN%", clients->bearer());

        const Exchange answer = exchange(port, bytes);
        QCOMPARE(statuses(answer.received), QList<int>{status});
        QVERIFY2(answer.closedByServer, answer.received.constData());
        QVERIFY(answer.received.contains("Connection: close\r\n"));
        QCOMPARE(storedBackup(), QByteArray(R"({"kept":true})")); // no smuggled body stored
        QCOMPARE(clients->send("GET", "/healthz").status, 200);
    }

    // A body that arrives only after its request was refused is never parsed either.
    void bodyAfterTheRefusalIsNeverParsed()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket.waitForConnected(5000));
        const QByteArray hidden = "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n";
        socket.write("PUT /api/backup?namespace=en HTTP/1.1\r\nHost: x\r\nContent-Length: " + QByteArray::number(hidden.size() * 2)
                     + "\r\n\r\n");
        QByteArray received = readUntil(socket, "\r\n\r\n");
        QDeadlineTimer deadline(10000);
        QCOMPARE(statuses(received), QList<int>{401});
        socket.write(hidden + hidden);
        while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
            socket.waitForReadyRead(100);
            received += socket.readAll();
        }
        QCOMPARE(statuses(received), QList<int>{401});
        QVERIFY(socket.state() != QAbstractSocket::ConnectedState);
    }

    // Hundreds of connections sending their heads a byte at a time: a normal client is answered
    // meanwhile, and each slow connection is closed once its head time-out has passed, however
    // steadily it sends.
    void slowHeadsDoNotHoldTheServer()
    {
        ServerClients slow(QStringList{QStringLiteral("--header-timeout"), QStringLiteral("3")});
        QCOMPARE(slow.start(), QString());
        const quint16 slowPort = quint16(slow.server.baseUrl().port());
        constexpr int count = 300;
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < count; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QHostAddress::LocalHost, slowPort);
        }
        for (const auto &socket : sockets) {
            QVERIFY(socket->waitForConnected(5000));
            socket->write("GET /healthz HTTP/1.1\r\n");
            socket->flush();
        }
        QElapsedTimer answered;
        answered.start();
        QCOMPARE(slow.send("GET", "/healthz").status, 200);
        QVERIFY2(answered.elapsed() < 5000, QByteArray::number(answered.elapsed()).constData());

        const QByteArray trickle = "X-Slow: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n";
        int open = count;
        qsizetype sent = 0;
        QDeadlineTimer deadline(30000);
        while (open > 0 && !deadline.hasExpired()) {
            open = 0;
            for (const auto &socket : sockets) {
                if (socket->state() != QAbstractSocket::ConnectedState)
                    continue;
                ++open;
                socket->write(trickle.mid(sent % trickle.size(), 1));
                socket->flush();
            }
            ++sent;
            QTest::qWait(50);
        }
        QCOMPARE(open, 0);
        for (const auto &socket : sockets)
            QVERIFY(!socket->readAll().contains("HTTP/1.1 200"));
        QCOMPARE(slow.send("GET", "/healthz").status, 200);
    }

    // Another process holds the database's write lock: the one worker waits for it, its queue
    // fills, and the next request is refused at once with 503 and Retry-After; the write that
    // waited past the busy time-out is answered 503 with Retry-After as well, never 500. Once the
    // lock is free, all is well.
    void fullWorkerPoolAnswers503()
    {
        ServerClients busy(QStringList{QStringLiteral("--threads"), QStringLiteral("1")});
        QCOMPARE(busy.start(), QString());
        busy.signUpNew();
        const quint16 busyPort = quint16(busy.server.baseUrl().port());
        SqliteDatabase holder = SqliteDatabase::open(QDir(busy.server.dataFolder()).filePath("cantorella.sqlite"));
        holder.exec(QStringLiteral("BEGIN IMMEDIATE"));
        const QByteArray body = R"({"library":"held"})";
        const QByteArray upload = "PUT /api/backup?namespace=en HTTP/1.1\r\nHost: x\r\nAuthorization: " + busy.bearer()
            + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        // Uploads until one finds the worker and its queue full: those before it hold their
        // places (no answer yet), that one is refused at once.
        std::vector<std::unique_ptr<QTcpSocket>> held;
        QByteArray refused;
        QDeadlineTimer deadline(30000);
        while (refused.isEmpty() && !deadline.hasExpired() && held.size() < 50) {
            held.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket &socket = *held.back();
            socket.connectToHost(QHostAddress::LocalHost, busyPort);
            QVERIFY(socket.waitForConnected(5000));
            socket.write(upload);
            if (socket.waitForReadyRead(1000)) {
                refused = readUntil(socket, "\r\n\r\n");
                held.pop_back();
            }
        }
        QVERIFY2(refused.startsWith("HTTP/1.1 503"), refused.constData());
        QVERIFY(refused.contains("Retry-After: 1\r\n"));
        QCOMPARE(held.size(), std::size_t(5)); // the worker and the four places of its queue

        const QByteArray timedOut = readUntil(*held.front(), "\r\n\r\n", 20000);
        QVERIFY2(timedOut.startsWith("HTTP/1.1 503"), timedOut.constData());
        QVERIFY(timedOut.contains("Retry-After: "));
        holder.exec(QStringLiteral("ROLLBACK"));
        for (std::size_t i = 1; i < held.size(); ++i) {
            const QByteArray answer = readUntil(*held[i], "sizeBytes", 20000);
            QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
        }
        QCOMPARE(busy.send("GET", "/healthz").status, 200);
    }

    // At the connection limit a new client is still served: the connection idle longest makes
    // room, the others stay.
    void fullServerClosesTheLongestIdle()
    {
        constexpr int limit = 20;
        ServerClients full(QStringList{QStringLiteral("--max-connections"), QString::number(limit),
                                       QStringLiteral("--keep-alive-timeout"), QStringLiteral("300")});
        QCOMPARE(full.start(), QString());
        const quint16 fullPort = quint16(full.server.baseUrl().port());
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < limit; ++i) { // one after the other: the first is idle longest
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, fullPort);
            QVERIFY(idle.back()->waitForConnected(5000));
            idle.back()->write("GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n");
            const QByteArray answer = readUntil(*idle.back(), "{\"status\":\"ok\"}");
            QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
        }
        const Exchange newcomer = exchange(fullPort, "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        QCOMPARE(statuses(newcomer.received), QList<int>{200});
        // The first connection, unless a busy machine held the server's side of it past the
        // answer (idle time starts when the server has sent, not when the client has read).
        const auto closedOnes = [&idle] {
            QByteArray states;
            for (const auto &socket : idle) {
                socket->waitForReadyRead(0);
                states += socket->state() == QAbstractSocket::ConnectedState ? 'o' : 'x';
            }
            return states;
        };
        QByteArray states = closedOnes();
        QDeadlineTimer deadline(10000);
        while (!states.contains('x') && !deadline.hasExpired()) {
            idle.front()->waitForDisconnected(100);
            states = closedOnes();
        }
        QCOMPARE(states.count('x'), 1);
        QVERIFY2(states.indexOf('x') < limit / 2, states.constData());
    }

    // What reaches the log of a request line is printable, bounded and one line per request,
    // whatever the client sends as its method.
    void requestLinesReachTheLogTamed()
    {
        ServerClients logged;
        QCOMPARE(logged.start(), QString());
        const quint16 loggedPort = quint16(logged.server.baseUrl().port());
        const QList<QByteArray> requests = {
            "GET\x1b[31m /healthz HTTP/1.1\r\nHost: x\r\n\r\n",
            "GET\r /healthz HTTP/1.1\r\nHost: x\r\n\r\n",
            QByteArray(8000, 'A') + " /healthz HTTP/1.1\r\nHost: x\r\n\r\n",
            "user@example.com:password /healthz HTTP/1.1\r\nHost: x\r\n\r\n",
            "GET /healthz HTTP/1.1\r\nHost: x\r\nBad Header: x\r\nuser@example.com: password\r\n\r\n",
        };
        const qsizetype logStart = logged.server.log().size();
        for (const QByteArray &request : requests) {
            const Exchange answer = exchange(loggedPort, request);
            QCOMPARE(statuses(answer.received).size(), 1);
        }
        QByteArray lines;
        QDeadlineTimer deadline(10000);
        while (lines.count('\n') < requests.size() && !deadline.hasExpired()) {
            QTest::qWait(50);
            lines = logged.server.log().mid(logStart);
        }
        QCOMPARE(lines.count('\n'), requests.size());
        for (const QByteArray &line : lines.split('\n')) {
            QVERIFY2(line.size() < 160, line.constData());
            for (const char c : line)
                QVERIFY2(c >= ' ' && c < 0x7F, line.constData());
            QVERIFY2(!line.contains("password") && !line.contains('@'), line.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestServerHostile)
#include "tst_serverhostile.moc"
