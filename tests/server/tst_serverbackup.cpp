// The backup client against the real server: every status the backup exchange can bring, and
// an upload cut off by a killed server.
#include "ServerClients.h"

#include "backend/RemoteBackupProvider.h"

#include <QTcpSocket>
#include <QtTest>

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
    // under its total. Steps "PUT|GET NAMESPACE SIZE STATUS".
    void quotas()
    {
        ServerClients limited(QStringList{"--backup-namespaces", "en,fr", "--max-account-backup-bytes", "5000",
                                          "--max-backup-bytes", "4000"});
        QCOMPARE(limited.start(), QString());
        limited.signUpNew();
        const QStringList steps{"PUT en 3000 200", "PUT fr 2500 413", "PUT fr 2000 200", "PUT en 3500 413",
                                "PUT en 2900 200", "PUT de 10 400", "GET de 0 400", "GET fr 0 200"};
        for (const QString &step : steps) {
            const QStringList words = step.split(' ');
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
