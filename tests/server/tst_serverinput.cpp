// Hostile and broken requests get a clear status and store nothing; the log never holds a
// secret; SIGTERM lets the requests in flight finish.
#include "RawHttp.h"
#include "ServerClients.h"

#include "backend/RemoteBackupProvider.h"
#include "server/auth/AccessTokens.h"

#include <QTcpSocket>
#include <QtTest>

namespace {

using Headers = QList<std::pair<QByteArray, QByteArray>>;

// Sends the request head and the first bytes of a body, then reads until the answer's status
// line is in (or the connection ends). The status, or 0.
int statusOfRawRequest(quint16 port, const QByteArray &head, const QByteArray &bodyStart)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return 0;
    socket.write(head + "\r\n" + bodyStart);
    QByteArray answer;
    QDeadlineTimer deadline(10000);
    while (!answer.contains("\r\n") && !deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(100);
        answer += socket.readAll();
    }
    answer += socket.readAll();
    const QList<QByteArray> words = answer.left(answer.indexOf("\r\n")).split(' ');
    return words.size() >= 2 ? words.at(1).toInt() : 0;
}

QByteArray base64Url(const QByteArray &bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

} // namespace

class TestServerInput : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServerClients> clients;
    QByteArray anonKey;

private slots:
    void initTestCase()
    {
        clients = std::make_unique<ServerClients>(QStringList{QStringLiteral("--signins-per-minute"), QStringLiteral("10000")});
        QCOMPARE(clients->start(), QString());
        anonKey = clients->server.anonKey().toUtf8();
        clients->signUpNew();
    }

    void badRequests_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        // "apikey", "bearer", "wrong apikey", "apikey, last character changed", "forged", "expired", "alg none", "none"
        QTest::addColumn<QString>("credential");
        QTest::addColumn<int>("status");

        const QByteArray signUp = R"({"email":"bad@example.com","password":"secret-1"})";
        QTest::newRow("sign-up: not JSON") << QByteArray("POST") << "/auth/v1/signup" << QByteArray("email=bad@example.com") << "apikey" << 400;
        QTest::newRow("sign-up: JSON array") << QByteArray("POST") << "/auth/v1/signup" << QByteArray("[1,2]") << "apikey" << 400;
        QTest::newRow("sign-up: wrong types") << QByteArray("POST") << "/auth/v1/signup"
                                              << QByteArray(R"({"email":["bad@example.com"],"password":123456})") << "apikey" << 400;
        QTest::newRow("sign-up: invalid UTF-8") << QByteArray("POST") << "/auth/v1/signup"
                                                << QByteArray("{\"email\":\"bad@example.com\",\"password\":\"secret-\xff\xfe\"}") << "apikey" << 400;
        QTest::newRow("sign-up: bad address") << QByteArray("POST") << "/auth/v1/signup"
                                              << QByteArray(R"({"email":"bad@example","password":"secret-1"})") << "apikey" << 400;
        QTest::newRow("sign-up: short password") << QByteArray("POST") << "/auth/v1/signup"
                                                 << QByteArray(R"({"email":"bad@example.com","password":"12345"})") << "apikey" << 400;
        QTest::newRow("sign-up: no apikey") << QByteArray("POST") << "/auth/v1/signup" << signUp << "none" << 401;
        QTest::newRow("sign-up: wrong apikey") << QByteArray("POST") << "/auth/v1/signup" << signUp << "wrong apikey" << 401;
        QTest::newRow("sign-up: wrong apikey of the right length") << QByteArray("POST") << "/auth/v1/signup" << signUp
                                                                   << "apikey, last character changed" << 401;
        QTest::newRow("sign-in: not JSON") << QByteArray("POST") << "/auth/v1/token?grant_type=password" << QByteArray("{") << "apikey" << 400;
        QTest::newRow("sign-in: unknown grant") << QByteArray("POST") << "/auth/v1/token?grant_type=magic" << signUp << "apikey" << 400;
        QTest::newRow("refresh: wrong type") << QByteArray("POST") << "/auth/v1/token?grant_type=refresh_token"
                                             << QByteArray(R"({"refresh_token":42})") << "apikey" << 400;
        QTest::newRow("logout: forged token") << QByteArray("POST") << "/auth/v1/logout" << QByteArray("{}") << "forged" << 401;

        const QByteArray song = R"({"title":"Amazing Grace","artist":"Traditional"})";
        QTest::newRow("track: not JSON") << QByteArray("POST") << "/api/track" << QByteArray("Amazing Grace") << "bearer" << 400;
        QTest::newRow("track: wrong types") << QByteArray("POST") << "/api/track" << QByteArray(R"({"title":1,"artist":null})") << "bearer" << 400;
        QTest::newRow("track: title of 257 characters") << QByteArray("POST") << "/api/track"
                                                        << QByteArray(R"({"title":")" + QByteArray(257, 'a') + R"(","artist":"x"})") << "bearer" << 400;
        QTest::newRow("cards: no lyrics") << QByteArray("POST") << "/api/cards" << song << "bearer" << 400;
        QTest::newRow("track: no token") << QByteArray("POST") << "/api/track" << song << "none" << 401;
        QTest::newRow("track: forged token") << QByteArray("POST") << "/api/track" << song << "forged" << 401;
        QTest::newRow("track: expired token") << QByteArray("POST") << "/api/track" << song << "expired" << 401;
        QTest::newRow("track: unsigned token") << QByteArray("POST") << "/api/track" << song << "alg none" << 401;
        QTest::newRow("backup: no namespace") << QByteArray("PUT") << "/api/backup" << QByteArray("{}") << "bearer" << 400;
        QTest::newRow("backup: odd namespace") << QByteArray("PUT") << "/api/backup?namespace=../en" << QByteArray("{}") << "bearer" << 400;
        QTest::newRow("backup: empty") << QByteArray("PUT") << "/api/backup?namespace=en" << QByteArray() << "bearer" << 400;
        QTest::newRow("backup: forged token") << QByteArray("PUT") << "/api/backup?namespace=en" << QByteArray("{}") << "forged" << 401;
        QTest::newRow("backup: wrong method") << QByteArray("DELETE") << "/api/backup?namespace=en" << QByteArray() << "bearer" << 405;
        QTest::newRow("unknown path") << QByteArray("GET") << "/api/../etc/passwd" << QByteArray() << "bearer" << 404;
    }

    void badRequests()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(QString, credential);
        QFETCH(int, status);
        // An address of this row's own: a row that wrongly stores an account fails alone.
        const QByteArray email = ServerClients::uniqueEmail(QStringLiteral("bad")).toUtf8();
        body.replace("bad@example.com", email);

        const AuthSession session = *clients->auth->session();
        const QByteArray tokenKey = clients->server.tokenKey().toUtf8();
        const server::AccessClaims claims = *server::AccessTokens(tokenKey.toStdString(), 3600)
                                                 .verify(session.accessToken.toStdString(), QDateTime::currentSecsSinceEpoch());
        Headers headers;
        if (credential == u"apikey")
            headers << std::pair{QByteArray("apikey"), anonKey};
        else if (credential == u"wrong apikey")
            headers << std::pair{QByteArray("apikey"), anonKey + "x"};
        else if (credential == u"apikey, last character changed")
            headers << std::pair{QByteArray("apikey"), anonKey.chopped(1) + (anonKey.endsWith('A') ? "B" : "A")};
        else if (credential != u"none")
            headers << std::pair{QByteArray("apikey"), anonKey};
        QByteArray token;
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        if (credential == u"bearer")
            token = session.accessToken.toUtf8();
        if (credential == u"forged") // the same claims under another key
            token = QByteArray::fromStdString(server::AccessTokens(std::string(40, 'k'), 3600).issue(claims.userId, claims.signInId, now).token);
        if (credential == u"expired") // our key, past its expiry
            token = QByteArray::fromStdString(server::AccessTokens(tokenKey.toStdString(), 60).issue(claims.userId, claims.signInId, now - 7200).token);
        if (credential == u"alg none") {
            const QByteArray payload = session.accessToken.toUtf8().split('.').at(1);
            token = base64Url(R"({"alg":"none","typ":"JWT"})") + "." + payload + ".";
        }
        if (!token.isEmpty())
            headers << std::pair{QByteArray("Authorization"), "Bearer " + token};

        const ServerClients::Answer answer = clients->send(method, path, body, headers);
        QCOMPARE(answer.status, status);
        QVERIFY2(answer.body.isEmpty() || answer.body.startsWith('{'), answer.body.constData());

        // Nothing was stored: the address of the refused sign-ups is still free, the backup still absent.
        RemoteBackupProvider backups(&clients->api, clients->server.baseUrl(), clients->auth.get());
        QCOMPARE(TaskRunner::run(backups.download()), std::optional<QByteArray>());
        QCOMPARE(clients->send("POST", "/auth/v1/token?grant_type=password", R"({"email":")" + email + R"(","password":"secret-1"})",
                               {{"apikey", anonKey}}).status,
                 400);
    }

    void hugeBodyIsRefusedBeforeReading_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::newRow("100 MB to the sign-up") << QByteArray("POST /auth/v1/signup HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                                                             "Content-Length: 104857600\r\n");
        QTest::newRow("100 MB to the lyrics") << QByteArray("POST /api/track HTTP/1.1\r\nHost: x\r\nContent-Length: 104857600\r\n");
        QTest::newRow("a POST without any length") << QByteArray("POST /auth/v1/logout HTTP/1.1\r\nHost: x\r\n");
        QTest::newRow("a chunked body to a JSON route") << QByteArray("POST /api/story HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n");
        QTest::newRow("1 TB backup") << QByteArray("PUT /api/backup?namespace=en HTTP/1.1\r\nHost: x\r\nContent-Length: 1099511627776\r\n"
                                                    "Authorization: Bearer ") + QByteArray("%1\r\n");
    }

    void hugeBodyIsRefusedBeforeReading()
    {
        QFETCH(QByteArray, head);
        head.replace("%1", clients->auth->session()->accessToken.toUtf8());
        QElapsedTimer timer;
        timer.start();
        const int status = statusOfRawRequest(quint16(clients->server.baseUrl().port()), head, QByteArray(65536, '{'));
        QVERIFY2(status == 413 || status == 411, QByteArray::number(status).constData());
        QVERIFY(timer.elapsed() < 5000);
        QCOMPARE(clients->send("GET", "/healthz").status, 200);
    }

    void noSecretInTheLog()
    {
        ServerClients fresh(QStringList{QStringLiteral("--access-token-seconds"), QStringLiteral("120")});
        QCOMPARE(fresh.start(), QString());
        const QString email = ServerClients::uniqueEmail(QStringLiteral("Private.Person"));
        const QString password = QStringLiteral("correct horse battery");
        QStringList secrets{email, email.toLower(), password};
        QVERIFY(TaskRunner::run(fresh.auth->signUp(email, password)));
        secrets << fresh.auth->session()->accessToken << fresh.auth->session()->refreshToken;
        AuthService &device = fresh.newDevice();
        TaskRunner::run(device.signIn(email, password));
        secrets << device.session()->accessToken << device.session()->refreshToken;
        RemoteBackupProvider backups(&fresh.api, fresh.server.baseUrl(), &device);
        QVERIFY(TaskRunner::run(backups.upload(R"({"secret":"library"})")) > 0);
        // Refreshes: the client thinks the token is about to expire.
        fresh.clock.advance(std::chrono::seconds(100));
        QVERIFY(TaskRunner::run(backups.download()).has_value());
        secrets << device.session()->accessToken << device.session()->refreshToken;
        TaskRunner::run(device.signOut());
        QCOMPARE(fresh.server.stop(), 0);

        const QByteArray log = fresh.server.log();
        // The first line names the port that port 0 took.
        QVERIFY2(log.left(log.indexOf('\n')).contains(" listening on " + fresh.server.baseUrl().toString().toUtf8()), log.constData());
        QVERIFY(log.contains("PUT /api/backup?namespace 200"));
        QVERIFY(log.contains("POST /auth/v1/token?grant_type 200"));
        for (const QString &secret : secrets)
            QVERIFY2(!log.contains(secret.toUtf8()), qPrintable(QStringLiteral("the log holds ") + secret));
        QVERIFY(!log.contains("library"));
        QVERIFY(!log.contains("@"));
    }

    // What a connection carries besides one request at a time: requests sent back to back in
    // one packet are all answered, in order; a client that asks to continue before sending its
    // body is told to (it would otherwise wait for a reply that needs the body).
    void connectionExchanges_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArrayList>("answers");
        QTest::newRow("three requests in one packet")
            << QByteArray("GET /healthz HTTP/1.1\r\nHost: x\r\n\r\nGET /nowhere HTTP/1.1\r\nHost: x\r\n\r\n"
                          "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n")
            << QByteArray() << QByteArrayList{"HTTP/1.1 200", "HTTP/1.1 404", "HTTP/1.1 200"};
        QTest::newRow("a body sent after 100 Continue")
            << QByteArray("PUT /api/backup?namespace=en HTTP/1.1\r\nHost: x\r\nAuthorization: %1\r\n"
                          "Expect: 100-continue\r\nContent-Length: 13\r\n\r\n")
            << QByteArray(R"({"a":"b c d"})") << QByteArrayList{"HTTP/1.1 100", "HTTP/1.1 200"};
    }

    void connectionExchanges()
    {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, body);
        QFETCH(QByteArrayList, answers);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(clients->server.baseUrl().port()));
        QVERIFY(socket.waitForConnected(5000));
        socket.write(head.replace("%1", "Bearer " + clients->auth->session()->accessToken.toUtf8()));
        QByteArray received;
        const auto waitFor = [&](qsizetype statusLines) {
            QDeadlineTimer deadline(5000);
            while (received.count("HTTP/1.1 ") < statusLines && !deadline.hasExpired()) {
                socket.waitForReadyRead(50);
                received += socket.readAll();
            }
        };
        if (!body.isEmpty()) {
            waitFor(1);
            QVERIFY2(received.startsWith(answers.first()), received.constData());
            socket.write(body);
        }
        waitFor(answers.size());
        qsizetype from = 0;
        for (const QByteArray &answer : answers) {
            from = received.indexOf("HTTP/1.1 ", from);
            QVERIFY2(from >= 0 && received.mid(from).startsWith(answer), received.constData());
            ++from;
        }
    }

    // An answer given from memory on the I/O thread is the worker's answer, byte for byte, with
    // the same log line. Of each three requests sent in one packet the first goes to a worker
    // (it checks the sign-in, the cache or the database); the two after it are answered from
    // what the first left in memory when they come within its moment (they usually do): a body
    // that is no JSON object, a cached song, the health check.
    void answersFromMemoryAreTheWorkers()
    {
        ServerClients fresh; // a log of its own: no line of another test arrives late in it
        QCOMPARE(fresh.start(), QString());
        fresh.signUpNew();
        const QByteArray song = R"({"title":"Amazing Grace","artist":"Traditional","duration":82})";
        const QByteArray track = "POST /api/track HTTP/1.1\r\nHost: x\r\nAuthorization: " + fresh.bearer()
            + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(song.size()) + "\r\n\r\n" + song;
        const QByteArray notJson = "POST /api/track HTTP/1.1\r\nHost: x\r\nAuthorization: " + fresh.bearer()
            + "\r\nContent-Type: application/json\r\nContent-Length: 5\r\n\r\n[1,2]";
        const QByteArray health = "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n";
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(fresh.server.baseUrl().port()));
        QVERIFY(socket.waitForConnected(5000));
        socket.write(notJson.repeated(3) + track.repeated(3) + health.repeated(3));

        // Whole answers (head and Content-Length body) as they arrive.
        QByteArrayList answers;
        QByteArray received;
        QDeadlineTimer deadline(20000);
        while (answers.size() < 9 && !deadline.hasExpired()) {
            socket.waitForReadyRead(50);
            received += socket.readAll();
            const qsizetype headEnd = received.indexOf("\r\n\r\n");
            const qsizetype lengthAt = received.indexOf("Content-Length: ");
            if (headEnd < 0 || lengthAt < 0 || lengthAt > headEnd)
                continue;
            const qsizetype size = headEnd + 4 + received.mid(lengthAt + 16, headEnd).split('\r').first().toLongLong();
            if (received.size() >= size) {
                answers << received.left(size);
                received.remove(0, size);
            }
        }
        QCOMPARE(answers.size(), 9);
        QVERIFY2(answers.at(0).startsWith("HTTP/1.1 400"), answers.at(0).constData());
        QVERIFY2(answers.at(3).startsWith("HTTP/1.1 200") && answers.at(3).contains("\"songKey\""), answers.at(3).constData());
        QVERIFY2(answers.at(6).startsWith("HTTP/1.1 200") && answers.at(6).contains("\"status\":\"ok\""), answers.at(6).constData());
        for (int i = 0; i < 9; ++i)
            QCOMPARE(answers.at(i), answers.at(i - i % 3));

        // The log lines alike, but for the time taken.
        const auto lines = [&]() {
            QByteArrayList found;
            for (QByteArray line : fresh.server.log().split('\n')) {
                if (!line.contains(" POST /api/track ") && !line.contains(" GET /healthz "))
                    continue;
                line = line.mid(line.indexOf(' ') + 1); // after the time stamp
                QList<QByteArray> words = line.split(' ');
                if (words.size() == 5 && words.at(3).endsWith("ms"))
                    words[3] = "ms";
                found << words.join(' ');
            }
            return found;
        };
        QTRY_COMPARE_WITH_TIMEOUT(lines().size(), 9, 10000);
        const QByteArrayList written = lines();
        QVERIFY2(written.at(0).startsWith("POST /api/track 400 ms "), written.at(0).constData());
        QVERIFY2(written.at(3).startsWith("POST /api/track 200 ms "), written.at(3).constData());
        QVERIFY2(written.at(6).startsWith("GET /healthz 200 ms "), written.at(6).constData());
        for (int i = 0; i < 9; ++i)
            QCOMPARE(written.at(i), written.at(i - i % 3));
    }

    // A connection kept alive between requests ends with the stop, not after its idle time-out.
    void idleConnectionsDoNotHoldTheStop()
    {
        ServerClients stopping;
        QCOMPARE(stopping.start(), QString());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(stopping.server.baseUrl().port()));
        QVERIFY(socket.waitForConnected(5000));
        socket.write("GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n");
        QVERIFY(socket.waitForReadyRead(5000));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(stopping.server.stop(), 0);
        QVERIFY2(timer.elapsed() < 3000, QByteArray::number(timer.elapsed()).constData());
    }

    // SIGTERM: no new connections, but an upload under way completes and the server exits 0.
    void terminationFinishesRequestsInFlight()
    {
        ServerClients stopping;
        QCOMPARE(stopping.start(), QString());
        stopping.signUpNew();
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(stopping.server.baseUrl().port()));
        QVERIFY(socket.waitForConnected(5000));
        const QByteArray body = R"({"finished":"after SIGTERM"})";
        socket.write("PUT /api/backup?namespace=en HTTP/1.1\r\nHost: x\r\nAuthorization: " + stopping.bearer()
                     + "\r\nExpect: 100-continue\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n");
        // The server has the head: the request is under way when the stop comes.
        QVERIFY(RawHttp::readUntil(socket, "\r\n\r\n").startsWith("HTTP/1.1 100 Continue"));
        socket.write(body.left(5));
        QVERIFY(socket.waitForBytesWritten(5000));
        ::kill(pid_t(stopping.server.pid()), SIGTERM);
        QVERIFY(stopping.server.waitForLog("stopping: "));
        socket.write(body.mid(5));
        QByteArray answer;
        QDeadlineTimer deadline(5000);
        while (!answer.contains("sizeBytes") && !deadline.hasExpired()) {
            socket.waitForReadyRead(100);
            answer += socket.readAll();
        }
        QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
        QCOMPARE(stopping.server.stop(), 0);
    }
};

QTEST_GUILESS_MAIN(TestServerInput)
#include "tst_serverinput.moc"
