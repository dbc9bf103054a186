// The backup client against the real server: every status the backup exchange can bring, and
// an upload cut off by a killed server.
#include "ServerClients.h"

#include "backend/RemoteBackupProvider.h"
#include "platform/SqliteDatabase.h"

#include <QDir>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

Q_DECLARE_METATYPE(std::optional<BackupSyncError>)

namespace {

template<class T>
std::optional<BackupSyncError> backupFailure(QCoro::Task<T> task)
{
    try {
        TaskRunner::run(std::move(task), std::chrono::seconds(30));
    } catch (const BackupSyncError &error) {
        return error;
    }
    return std::nullopt;
}

QByteArray document(qsizetype size, char fill)
{
    QByteArray bytes = "{\"namespaces\":{\"en\":\"";
    bytes += QByteArray(qMax<qsizetype>(0, size - bytes.size() - 3), fill);
    return bytes + "\"}}";
}

// A raw connection to the server (what a hostile or stalled client does, no client rules).
std::unique_ptr<QTcpSocket> connectTo(const ServerProcess &server)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, quint16(server.baseUrl().port()));
    socket->waitForConnected(5000);
    return socket;
}

QByteArray backupHead(const QByteArray &method, const QByteArray &space, const QByteArray &bearer, const QByteArray &more = {})
{
    return method + " /api/backup?namespace=" + space + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " + bearer
        + "\r\n" + more + "\r\n";
}

// Reads until what came contains `marker` (or `waitMs` passes); answers what came.
QByteArray readUntil(QTcpSocket &socket, const QByteArray &marker, int waitMs = 20000)
{
    QByteArray received = socket.readAll();
    const QDeadlineTimer deadline(waitMs);
    while (!received.contains(marker) && !deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(100);
        received += socket.readAll();
    }
    return received + socket.readAll();
}

// Sends a chunked upload in pieces of 500 bytes, `total` in all, looking for an answer after
// each: the status, and the bytes sent when it came.
std::pair<int, qsizetype> chunkedUpload(const ServerProcess &server, const QByteArray &space, const QByteArray &bearer,
                                        qsizetype total)
{
    const auto socket = connectTo(server);
    socket->write(backupHead("PUT", space, bearer, "Transfer-Encoding: chunked\r\n") + "1\r\n{\r\n");
    qsizetype sent = 1;
    while (sent < total && socket->bytesAvailable() == 0) {
        socket->write("1f4\r\n" + QByteArray(500, 'c') + "\r\n");
        sent += 500;
        socket->waitForBytesWritten(5000);
        socket->waitForReadyRead(20);
    }
    if (socket->bytesAvailable() == 0)
        socket->write("0\r\n\r\n");
    const QByteArray answer = readUntil(*socket, "\r\n\r\n");
    return {answer.mid(9, 3).toInt(), sent};
}

// A raw upload of a `size`-byte document that asks before it sends its body: the status of the
// answer to its head (100 when the server takes the body) and that answer.
std::pair<int, QByteArray> askToUpload(QTcpSocket &socket, const QByteArray &bearer, qsizetype size)
{
    socket.write(backupHead("PUT", "en", bearer, "Expect: 100-continue\r\nContent-Length: " + QByteArray::number(size) + "\r\n"));
    const QByteArray answer = readUntil(socket, "\r\n\r\n");
    return {answer.mid(9, 3).toInt(), answer};
}

// The status of a whole upload, or of the refusal of its head (a 503 without Retry-After: 0).
int uploadStatus(const ServerProcess &server, const QByteArray &bearer, const QByteArray &body)
{
    const auto socket = connectTo(server);
    const auto [status, answer] = askToUpload(*socket, bearer, body.size());
    if (status == 503 && !answer.contains("Retry-After: "))
        return 0;
    if (status != 100)
        return status;
    socket->write(body);
    while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(5000)) {
    }
    return readUntil(*socket, "\r\n\r\n", 60000).mid(9, 3).toInt();
}

// As an older server left a data folder: every backup's document in its row.
void intoRows(const QString &dataFolder)
{
    const QString path = QDir(dataFolder).filePath(QStringLiteral("cantorella.sqlite"));
    SqliteDatabase database = SqliteDatabase::open(path);
    SqliteStatement rows = database.statement("SELECT user_id, namespace, file FROM backups WHERE file IS NOT NULL");
    QList<QStringList> found;
    while (rows.step())
        found.append({rows.text(0), rows.text(1), rows.text(2)});
    for (const QStringList &row : found) {
        QFile file(path + QStringLiteral("-backups/") + row[2]);
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        database.statement("UPDATE backups SET document = CAST(? AS BLOB), file = NULL, size_bytes = NULL "
                           "WHERE user_id = ? AND namespace = ?")
            .bindUtf8(1, bytes).bind(2, row[0]).bind(3, row[1]).run();
        file.remove();
    }
}

} // namespace

class TestServerBackup : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServerClients> clients;

    RemoteBackupProvider provider() { return RemoteBackupProvider(&clients->api, clients->server.baseUrl(), clients->auth.get()); }

private slots:
    void initTestCase()
    {
        clients = std::make_unique<ServerClients>(QStringList{QStringLiteral("--max-backup-bytes"), QStringLiteral("3000000")});
        QCOMPARE(clients->start(), QString());
    }

    // Quotas: only the namespaces the server keeps, and all of an account's backups together
    // under its total. Steps "PUT|GET NAMESPACE SIZE STATUS"; "CHUNKED NAMESPACE SIZE STATUS" (the
    // answer comes while the client still sends); "QUOTA BYTES" restarts the server with a new
    // account total on the same data.
    void quotas()
    {
        QTemporaryDir folder;
        const QString config = folder.filePath(QStringLiteral("server.ini"));
        const auto setQuota = [&config](const QByteArray &bytes) {
            QFile file(config);
            return file.open(QIODevice::WriteOnly) && file.write("max-account-backup-bytes = " + bytes + "\n") > 0;
        };
        QVERIFY(setQuota("5000"));
        ServerClients limited(QStringList{"--backup-namespaces", "en,fr", "--max-backup-bytes", "4000", "--config", config});
        QCOMPARE(limited.start(), QString());
        limited.signUpNew();
        const QStringList steps{"PUT en 3000 200", "PUT fr 2500 413", "PUT fr 2000 200", "PUT en 3500 413",
                                "PUT en 2900 200", "PUT de 10 400", "GET de 0 400", "GET fr 0 200",
                                "CHUNKED fr 20000 413", "CHUNKED en 2000 200", "QUOTA 1500", "PUT en 10 413",
                                "PUT fr 10 413", "GET en 0 200"};
        for (const QString &step : steps) {
            const QStringList words = step.split(' ');
            if (words[0] == "QUOTA") {
                QVERIFY(setQuota(words[1].toLatin1()));
                QCOMPARE(limited.server.restart(), QString());
                continue;
            }
            if (words[0] == "CHUNKED") {
                const auto [status, sent] = chunkedUpload(limited.server, words[1].toLatin1(), limited.bearer(), words[2].toInt());
                QVERIFY2(status == words[3].toInt(), qPrintable(step + " answered " + QString::number(status)));
                QVERIFY2(status == 200 || sent < words[2].toInt(), qPrintable(step + ": the answer waited for the whole body"));
                continue;
            }
            const auto answer = limited.send(words[0].toLatin1(), "/api/backup?namespace=" + words[1],
                                             words[0] == "PUT" ? document(words[2].toInt(), 'q') : QByteArray(),
                                             {{"Authorization", limited.bearer()}});
            QVERIFY2(answer.status == words[3].toInt(), qPrintable(step + " answered " + QString::number(answer.status)));
        }
        // What the program sees past the account's total: its "too large" error.
        QCOMPARE(backupFailure(RemoteBackupProvider(&limited.api, limited.server.baseUrl(), limited.auth.get())
                                   .upload(document(3500, 'q'))),
                 std::optional(BackupSyncError::tooLarge()));
    }

    // Two uploads to two namespaces at once, each within the account's total alone but not
    // together: one is stored, the other answered 413.
    void quotaHoldsForUploadsAtOnce()
    {
        ServerClients limited(QStringList{"--backup-namespaces", "en,fr", "--max-account-backup-bytes", "64000"});
        QCOMPARE(limited.start(), QString());
        limited.signUpNew();
        const QByteArray body = document(40000, 'r');
        for (int round = 0; round < 3; ++round) {
            std::vector<std::unique_ptr<QTcpSocket>> uploads;
            // Both heads taken (each found room for itself) before either body comes.
            for (const QByteArray space : {"en", "fr"}) {
                uploads.push_back(connectTo(limited.server));
                uploads.back()->write(backupHead("PUT", space, limited.bearer(),
                                                 "Expect: 100-continue\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n"));
                QVERIFY(readUntil(*uploads.back(), "\r\n\r\n").startsWith("HTTP/1.1 100 Continue"));
            }
            for (const auto &upload : uploads)
                upload->write(body);
            for (const auto &upload : uploads)
                upload->waitForBytesWritten(5000);
            QList<int> statuses;
            for (const auto &upload : uploads)
                statuses << readUntil(*upload, "\r\n\r\n").mid(9, 3).toInt();
            std::sort(statuses.begin(), statuses.end());
            QCOMPARE(statuses, (QList<int>{200, 413}));
            for (const char *space : {"en", "fr"}) // room again for the next round
                limited.send("PUT", QStringLiteral("/api/backup?namespace=") + space, "{}", {{"Authorization", limited.bearer()}});
        }
    }

    // Uploads whose bodies trickle in hold no worker: with far more of them than workers and
    // places in their queue, other clients still sign up, and every upload is stored once whole.
    void slowUploadsHoldNoWorker()
    {
        ServerClients few(QStringList{"--threads", "2"}); // 2 workers, 8 places in their queue
        QCOMPARE(few.start(), QString());
        few.signUpNew();
        const QByteArray body = document(1000, 's');
        std::vector<std::unique_ptr<QTcpSocket>> uploads;
        for (int i = 0; i < 16; ++i) { // each once the server has taken its head (100 Continue)
            uploads.push_back(connectTo(few.server));
            uploads.back()->write(backupHead("PUT", "en", few.bearer(),
                                             "Expect: 100-continue\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n"));
            const QByteArray interim = readUntil(*uploads.back(), "\r\n\r\n");
            QVERIFY2(interim.startsWith("HTTP/1.1 100 Continue"), interim.constData());
            uploads.back()->write(body.left(100));
        }
        for (int i = 0; i < 3; ++i) {
            const QByteArray signUp = "{\"email\":\"" + ServerClients::uniqueEmail().toUtf8() + "\",\"password\":\"secret-1\"}";
            QCOMPARE(few.send("POST", "/auth/v1/signup", signUp, {{"apikey", few.server.anonKey().toUtf8()}}).status, 200);
        }
        for (const auto &upload : uploads)
            upload->write(body.mid(100));
        for (const auto &upload : uploads) {
            const QByteArray answer = readUntil(*upload, "sizeBytes");
            QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
        }
    }

    // Stalled readers of one backup share one copy of it (when the store cannot lend its bytes:
    // PostgreSQL, and SQLite rows an older server left), within --max-spool-bytes: with room for
    // exactly one copy, six readers of one backup are served, and another account's download and
    // upload wait (503 with Retry-After) until they end. The backups of an older server's data
    // folder are served as they were.
    void stalledReadersShareOneCopy()
    {
        const QByteArray big = document(24000000, 'b'); // more than the socket buffers hold
        ServerClients shared(QStringList{"--max-spool-bytes", QString::number(big.size())});
        QCOMPARE(shared.start(), QString());
        shared.signUpNew();
        QCOMPARE(TaskRunner::run(RemoteBackupProvider(&shared.api, shared.server.baseUrl(), shared.auth.get()).upload(big)),
                 qint64(big.size()));
        const QByteArray reader = shared.bearer();
        shared.newDevice();
        shared.signUpNew();
        const QByteArray other = shared.bearer();
        const QByteArray small = document(1000, 'o');
        QCOMPARE(shared.send("PUT", "/api/backup?namespace=en", small, {{"Authorization", other}}).status, 200);
        if (!ServerClients::onPostgres()) {
            QCOMPARE(shared.server.stop(), 0);
            intoRows(shared.server.dataFolder());
            QCOMPARE(shared.server.start(), QString());
        }

        std::vector<std::unique_ptr<QTcpSocket>> stalled;
        for (int i = 0; i < 6; ++i) {
            stalled.push_back(connectTo(shared.server));
            stalled.back()->setReadBufferSize(4096); // reads no further than the head: the rest waits
            stalled.back()->write(backupHead("GET", "en", reader));
            const QByteArray head = readUntil(*stalled.back(), "\r\n\r\n");
            QVERIFY2(head.startsWith("HTTP/1.1 200"), head.left(200).constData());
        }
        const auto waiting = connectTo(shared.server);
        waiting->write(backupHead("GET", "en", other));
        const QByteArray refused = readUntil(*waiting, "\r\n\r\n");
        QVERIFY2(refused.startsWith("HTTP/1.1 503") && refused.contains("Retry-After: "), refused.constData());
        QCOMPARE(uploadStatus(shared.server, other, small), 503);

        stalled.clear(); // the server lets their copy go once it sees them gone
        ServerClients::Answer whole;
        QTRY_COMPARE_WITH_TIMEOUT((whole = shared.send("GET", "/api/backup?namespace=en", {}, {{"Authorization", reader}})).status,
                                  200, 20000);
        QVERIFY(whole.body == big);
        QTRY_COMPARE_WITH_TIMEOUT(shared.send("GET", "/api/backup?namespace=en", {}, {{"Authorization", other}}).status, 200, 20000);
        QCOMPARE(uploadStatus(shared.server, other, small), 200);
    }

    // Unfinished uploads hold their declared room from their head on, copies and replaced versions
    // that readers hold theirs, until each ends however it ends. Accounts "a" and "b"; steps:
    // "HOLD n ACCOUNT SIZE" an upload taken (100 Continue) and left unfinished; "END n" its body
    // sent: 200; "DROP n" its connection gone; "PUT ACCOUNT SIZE STATUS [later]" an upload's status
    // (a 503 with Retry-After; "later": once the server has seen a connection go);
    // "CHUNKED ACCOUNT SIZE STATUS"; "READ n ACCOUNT" a reader that stalls after the head; "FREE
    // n" it reads to the end: the bytes it opened; "GET ACCOUNT" the account's latest bytes;
    // "LOCK"/"UNLOCK" the SQLite file's write lock held by the test; "STORING n ACCOUNT SIZE" an
    // upload sent whole and stopped at that lock, its document written; "STORED n" its 200.
    void transfersHoldRoom_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("an upload refused at once when the reserved space is used")
            << QStringList{"--max-spool-bytes", "100000"}
            << QStringList{"HOLD 1 a 60000", "PUT a 60000 507", "PUT b 60000 503", "PUT b 30000 200", "DROP 1",
                           "PUT b 60000 200 later", "PUT a 60000 200"};
        QTest::newRow("one account's share")
            << QStringList{"--max-account-spool-bytes", "50000"}
            << QStringList{"HOLD 1 a 30000", "PUT a 30000 507", "PUT b 30000 200", "END 1", "PUT a 30000 200"};
        QTest::newRow("a too large chunked upload gives its room back")
            << QStringList{"--max-backup-bytes", "20000", "--max-spool-bytes", "20000"}
            << QStringList{"CHUNKED a 40000 413", "PUT b 20000 200", "CHUNKED a 10000 200"};
        QTest::newRow("an account's second upload while its first is stored gets 503 with Retry-After")
            << QStringList{"--max-account-spool-bytes", "50000"}
            << QStringList{"LOCK", "STORING 1 a 30000", "PUT a 30000 503", "UNLOCK", "STORED 1", "PUT a 30000 200"};
        QTest::newRow("after a new version is stored a new download returns the new bytes while an old reader still holds the old copy")
            << QStringList{"--max-spool-bytes", "30000000"}
            << QStringList{"PUT a 24000000 200", "READ 1 a", "PUT a 1000 200", "GET a", "PUT b 24000000 503", "FREE 1",
                           "PUT b 24000000 200 later", "GET b"};
    }

    void transfersHoldRoom()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, steps);
        if (ServerClients::onPostgres() && steps.contains("LOCK"))
            QSKIP("the test holds the write lock of SQLite's file only");
        ServerClients room(options);
        QCOMPARE(room.start(), QString());
        std::map<QString, QByteArray> bearers, stored;
        for (const QString account : {"a", "b"}) {
            room.newDevice();
            room.signUpNew();
            bearers[account] = room.bearer();
        }
        std::map<QString, std::unique_ptr<QTcpSocket>> open;
        std::map<QString, QByteArray> sending; // what each open upload sends, what each reader opened
        std::map<QString, QByteArray> received; // what each reader has read of its body
        std::unique_ptr<SqliteDatabase> lock;
        const auto documentWritten = [&room](qint64 size) {
            const QFileInfoList files = QDir(room.server.dataFolder() + "/cantorella.sqlite-backups").entryInfoList(QDir::Files);
            return std::any_of(files.begin(), files.end(), [size](const QFileInfo &file) { return file.size() == size; });
        };
        for (const QString &step : steps) {
            const QStringList words = step.split(' ');
            const QString &verb = words[0];
            const auto documentOf = [&](int word) { return document(words[word].toInt(), char('c' + open.size() + stored.size())); };
            if (verb == "HOLD" || verb == "STORING") {
                open[words[1]] = connectTo(room.server);
                sending[words[1]] = documentOf(3);
                const auto [status, answer] = askToUpload(*open[words[1]], bearers[words[2]], words[3].toInt());
                QVERIFY2(status == 100, qPrintable(step + ": " + answer));
                open[words[1]]->write(verb == "HOLD" ? sending[words[1]].left(1000) : sending[words[1]]);
                QVERIFY(open[words[1]]->waitForBytesWritten(5000));
                if (verb == "STORING") {
                    QTRY_VERIFY_WITH_TIMEOUT(documentWritten(words[3].toInt()), 20000);
                    stored[words[2]] = sending[words[1]];
                }
            } else if (verb == "END" || verb == "STORED") {
                if (verb == "END")
                    open[words[1]]->write(sending[words[1]].mid(1000));
                const QByteArray answer = readUntil(*open[words[1]], "\r\n\r\n");
                QVERIFY2(answer.startsWith("HTTP/1.1 200"), qPrintable(step + ": " + answer));
                open.erase(words[1]);
            } else if (verb == "DROP") {
                open.erase(words[1]);
            } else if (verb == "PUT") {
                const QByteArray body = documentOf(2);
                const int expected = words[3].toInt();
                if (words.size() > 4)
                    QTRY_COMPARE_WITH_TIMEOUT(uploadStatus(room.server, bearers[words[1]], body), expected, 20000);
                else
                    QVERIFY2(uploadStatus(room.server, bearers[words[1]], body) == expected, qPrintable(step));
                if (expected == 200)
                    stored[words[1]] = body;
            } else if (verb == "CHUNKED") {
                QCOMPARE(chunkedUpload(room.server, "en", bearers[words[1]], words[2].toInt()).first, words[3].toInt());
            } else if (verb == "READ") {
                open[words[1]] = connectTo(room.server);
                open[words[1]]->setReadBufferSize(4096); // reads no further than the head: the rest waits
                open[words[1]]->write(backupHead("GET", "en", bearers[words[2]]));
                sending[words[1]] = stored[words[2]];
                const QByteArray head = readUntil(*open[words[1]], "\r\n\r\n");
                QVERIFY2(head.startsWith("HTTP/1.1 200"), qPrintable(step + ": " + head.left(200)));
                received[words[1]] = head.mid(head.indexOf("\r\n\r\n") + 4);
            } else if (verb == "FREE") {
                QTcpSocket &reader = *open[words[1]];
                reader.setReadBufferSize(0);
                QByteArray got = received[words[1]] + reader.readAll();
                while (got.size() < sending[words[1]].size() && reader.waitForReadyRead(10000))
                    got += reader.readAll();
                QVERIFY2(got == sending[words[1]], qPrintable(step + ": " + QString::number(got.size())));
                open.erase(words[1]);
            } else if (verb == "GET") {
                QVERIFY2(room.send("GET", "/api/backup?namespace=en", {}, {{"Authorization", bearers[words[1]]}}).body == stored[words[1]],
                         qPrintable(step));
            } else if (verb == "LOCK") {
                lock = std::make_unique<SqliteDatabase>(SqliteDatabase::open(room.server.dataFolder() + "/cantorella.sqlite"));
                lock->exec(QStringLiteral("BEGIN IMMEDIATE"));
            } else if (verb == "UNLOCK") {
                lock->exec(QStringLiteral("ROLLBACK"));
            }
        }
    }

    // A disk too small for an upload: 507 while the client still sends, the backup before it
    // whole, a download 200 or 503 with Retry-After (never 500), and a backup that fits is
    // stored afterwards.
    void fullDisk()
    {
        if (QProcess::execute(QStringLiteral("unshare"), {"--map-root-user", "--mount", "true"}) != 0)
            QSKIP("this system gives no mount namespace to an unprivileged user");
        qputenv("CANTORELLA_TEST_SERVER_BINARY", CANTORELLA_SERVER_BINARY);
        qputenv("CANTORELLA_TEST_DISK_SIZE", "6m");
        QStringList spaces{"en"}; // for the backups that fill the disk at the end
        for (char first = 'a'; first < 'k'; ++first)
            for (char second = 'a'; second < 'k'; ++second)
                spaces << QStringLiteral("f%1%2").arg(first).arg(second);
        ServerClients small(QStringList{"--max-backup-bytes", "20000000", "--max-account-backup-bytes", "20000000",
                                        "--backup-namespaces", spaces.join(',')},
                            QStringLiteral(CANTORELLA_TEST_DATA_DIR "/../server/on-small-disk.sh"),
                            QStringLiteral("test-anon-key-small-disk"));
        QCOMPARE(small.start(), QString());
        small.signUpNew();
        const QByteArray before = document(1500000, 'f');
        QCOMPARE(small.send("PUT", "/api/backup?namespace=en", before, {{"Authorization", small.bearer()}}).status, 200);
        // Past the disk while it arrives; on SQLite also one that arrives whole but does not fit
        // beside its spool copy (PostgreSQL keeps it elsewhere).
        for (const qsizetype size : ServerClients::onPostgres() ? QList<qsizetype>{8000000} : QList<qsizetype>{8000000, 4000000}) {
            const auto upload = connectTo(small.server);
            upload->write(backupHead("PUT", "en", small.bearer(), "Content-Length: " + QByteArray::number(size) + "\r\n"));
            const QByteArray answer = readUntil(*upload, "\r\n\r\n", 1); // nothing yet
            QByteArray got;
            for (qsizetype sent = 0; sent < size && got.isEmpty(); sent += 65536) {
                upload->write(QByteArray(65536, 'x'));
                upload->waitForBytesWritten(5000);
                got = upload->readAll();
            }
            if (!got.contains("\r\n\r\n"))
                got += readUntil(*upload, "\r\n\r\n");
            QVERIFY2(answer.isEmpty() && got.startsWith("HTTP/1.1 507"),
                     (QByteArray::number(size) + ": " + got + small.server.log().right(2000)).constData());
            const ServerClients::Answer download = small.send("GET", "/api/backup?namespace=en", {}, {{"Authorization", small.bearer()}});
            QVERIFY2(download.status == 200 || download.status == 503, QByteArray::number(download.status).constData());
            if (download.status == 200)
                QVERIFY(download.body == before);
        }
        const QByteArray fits = document(1000000, 'g');
        QCOMPARE(small.send("PUT", "/api/backup?namespace=en", fits, {{"Authorization", small.bearer()}}).status, 200);
        QCOMPARE(small.send("GET", "/api/backup?namespace=en", {}, {{"Authorization", small.bearer()}}).body, fits);

        // Any other write the disk has no room for (SQLite's file is on it): 507 or 503, never 500.
        // Backups of new accounts fill it to the last few pieces, then sign-ups its last pages.
        if (ServerClients::onPostgres())
            return;
        qsizetype space = 1;
        for (const qsizetype size : {1000000, 100000, 10000}) {
            for (int status = 200; status == 200 && space < spaces.size(); ++space) {
                status = small.send("PUT", "/api/backup?namespace=" + spaces[space], document(size, 'h'),
                                    {{"Authorization", small.bearer()}}).status;
                QVERIFY2(status == 200 || status == 507, QByteArray::number(status).constData());
            }
        }
        QVERIFY(space < spaces.size());
        int status = 200;
        for (int attempt = 0; attempt < 1000 && status == 200; ++attempt) {
            const QByteArray account = "{\"email\":\"" + ServerClients::uniqueEmail().toUtf8() + "\",\"password\":\"secret-1\"}";
            status = small.send("POST", "/auth/v1/signup", account, {{"apikey", small.server.anonKey().toUtf8()}}).status;
        }
        QVERIFY2(status == 507 || status == 503, (QByteArray::number(status) + small.server.log().right(2000)).constData());
    }

    void uploadThenDownload_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("small") << QByteArray(R"({"exportedAt":"2024-05-01T10:00:00Z","namespaces":{}})");
        QTest::newRow("non-ASCII text") << QByteArray("{\"t\":\"晚安，月亮 \\u0000 é\"}");
        QTest::newRow("exactly the limit") << document(3000000, 'a');
    }

    void uploadThenDownload()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(bytes.size() <= 3000000);
        clients->signUpNew();
        QCOMPARE(TaskRunner::run(provider().download()), std::optional<QByteArray>()); // none yet: 404
        QCOMPARE(TaskRunner::run(provider().upload(bytes), std::chrono::seconds(30)), qint64(bytes.size()));
        QCOMPARE(TaskRunner::run(provider().download(), std::chrono::seconds(30)), std::optional(bytes));
        // The second upload replaces the first.
        const QByteArray second = R"({"second":true})";
        QCOMPARE(TaskRunner::run(provider().upload(second)), qint64(second.size()));
        QCOMPARE(TaskRunner::run(provider().download()), std::optional(second));
    }

    void failures_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<std::optional<BackupSyncError>>("uploadFailure");
        QTest::addColumn<std::optional<BackupSyncError>>("downloadFailure");
        QTest::newRow("over the limit") << "too large" << std::optional(BackupSyncError::tooLarge()) << std::optional<BackupSyncError>();
        QTest::newRow("signed out: no bearer") << "signed out" << std::optional(BackupSyncError::unauthorized())
                                               << std::optional(BackupSyncError::unauthorized());
        QTest::newRow("sign-in revoked on the server") << "revoked" << std::optional(BackupSyncError::unauthorized())
                                                       << std::optional(BackupSyncError::unauthorized());
    }

    void failures()
    {
        QFETCH(QString, situation);
        QFETCH(std::optional<BackupSyncError>, uploadFailure);
        QFETCH(std::optional<BackupSyncError>, downloadFailure);
        clients->signUpNew();
        const QByteArray kept = R"({"kept":1})";
        QCOMPARE(TaskRunner::run(provider().upload(kept)), qint64(kept.size()));
        QByteArray bytes = R"({"new":1})";
        if (situation == u"too large")
            bytes = document(3000001, 'b');
        if (situation == u"signed out")
            clients->newDevice();
        if (situation == u"revoked") {
            const QByteArray bearer = clients->bearer();
            clients->send("POST", "/auth/v1/logout", "{}", {{"apikey", clients->server.anonKey().toUtf8()}, {"Authorization", bearer}});
        }
        QCOMPARE(backupFailure(provider().upload(bytes)), uploadFailure);
        if (uploadFailure == BackupSyncError::unauthorized())
            QVERIFY(!clients->auth->session()); // signed out before the error arrived
        if (!downloadFailure)
            QCOMPARE(TaskRunner::run(provider().download()), std::optional(kept));
        else
            QCOMPARE(backupFailure(provider().download()), downloadFailure);
    }

    void anotherUsersTokenNeverReadsIt()
    {
        clients->signUpNew();
        const QByteArray secret = R"({"mine":"only"})";
        QCOMPARE(TaskRunner::run(provider().upload(secret)), qint64(secret.size()));
        clients->newDevice();
        clients->signUpNew();
        QCOMPARE(TaskRunner::run(provider().download()), std::optional<QByteArray>());
    }

    // The server dies with a new upload half sent: the previous backup is there, byte for byte.
    void killedDuringUploadKeepsThePrevious()
    {
        const QString email = clients->signUpNew();
        const QByteArray previous = document(200000, 'p');
        QCOMPARE(TaskRunner::run(provider().upload(previous)), qint64(previous.size()));

        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(clients->server.baseUrl().port()));
        QVERIFY(socket.waitForConnected(5000));
        const QByteArray next = document(2000000, 'n');
        socket.write("PUT /api/backup?namespace=en HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                     "Authorization: " + clients->bearer() + "\r\nContent-Length: " + QByteArray::number(next.size())
                     + "\r\n\r\n");
        socket.write(next.left(next.size() / 2));
        QVERIFY(socket.waitForBytesWritten(5000));
        QTest::qWait(300);
        clients->server.kill();
        socket.abort();

        QCOMPARE(clients->server.start(), QString());
        clients->newDevice();
        TaskRunner::run(clients->auth->signIn(email, QStringLiteral("secret-1")));
        QCOMPARE(TaskRunner::run(provider().download()), std::optional(previous));
    }
};

QTEST_GUILESS_MAIN(TestServerBackup)
#include "tst_serverbackup.moc"
