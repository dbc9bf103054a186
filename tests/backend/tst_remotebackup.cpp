#include "AuthFixture.h"

#include "backend/RemoteBackupProvider.h"

#include <QtTest>

using namespace std::chrono_literals;
using Reply = HttpFake::Reply;

Q_DECLARE_METATYPE(HttpFake::Reply)
Q_DECLARE_METATYPE(std::optional<BackupSyncError>)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

namespace {

const QByteArray payload = R"({"exportedAt":"2024-05-01T10:00:00Z","namespaces":{"en":{"songs":[]}}})";

// The call's failure. With `cancelAfterSending`, the token is cancelled once the request arrived.
template<class T>
std::optional<BackupSyncError> failureOf(QCoro::Task<T> task, HttpFake *cancelAfterSending = nullptr,
                                         CancellationToken token = {})
{
    auto outcome = TaskRunner::start(std::move(task));
    if (cancelAfterSending) {
        QDeadlineTimer deadline(5000);
        while (cancelAfterSending->count("/api/backup") == 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        token.cancel();
    }
    if (!TaskRunner::waitUntilDone(outcome))
        throw TaskRunner::NotFinished();
    try {
        outcome->take();
    } catch (const BackupSyncError &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

class TestRemoteBackup : public QObject
{
    Q_OBJECT

    std::unique_ptr<AuthFixture> fixture;
    std::unique_ptr<HttpSession> session;

    RemoteBackupProvider provider(const QUrl &base = QUrl())
    {
        return RemoteBackupProvider(session.get(), base.isEmpty() ? fixture->server.baseUrl() : base,
                                    fixture->auth.get());
    }

private slots:
    void init()
    {
        fixture = std::make_unique<AuthFixture>();
        session = std::make_unique<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
    }

    void requests_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("signed in") << true;
        QTest::newRow("signed out: sent without a bearer") << false;
    }

    void requests()
    {
        QFETCH(bool, signedIn);
        fixture->server.setReply("/api/backup", Reply::json(200, QJsonObject{{"sizeBytes", payload.size()}}));
        if (signedIn)
            fixture->store(fixture->issuedSession("ann@example.com"));
        AuthService &auth = fixture->start();
        const std::optional<QByteArray> bearer =
            signedIn ? std::optional<QByteArray>(("Bearer " + auth.session()->accessToken).toUtf8()) : std::nullopt;

        QCOMPARE(TaskRunner::run(provider().upload(payload)), qint64(payload.size()));
        const HttpFake::Request put = fixture->server.lastRequest("/api/backup");
        QCOMPARE(put.method, QByteArray("PUT"));
        QCOMPARE(put.queryValue("namespace"), QStringLiteral("en"));
        QCOMPARE(put.body, payload); // unchanged bytes
        QCOMPARE(put.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(put.header("Authorization"), bearer);

        TaskRunner::run(provider().download());
        const HttpFake::Request get = fixture->server.lastRequest("/api/backup");
        QCOMPARE(get.method, QByteArray("GET"));
        QCOMPARE(get.query.toString(), QStringLiteral("namespace=en"));
        QCOMPARE(get.body, QByteArray());
        QCOMPARE(get.header("Content-Type"), std::nullopt);
        QCOMPARE(get.header("Accept"), QByteArray("application/json")); // from the shared session
        QCOMPARE(get.header("Authorization"), bearer);
    }

    void uploadAnswers_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<std::optional<BackupSyncError>>("error");
        using E = BackupSyncError;
        QTest::newRow("200") << Reply::json(200, QJsonObject{{"storedAt", "2024-05-01T10:00:01Z"}, {"sizeBytes", 71}})
                             << std::optional<E>();
        QTest::newRow("200 without storedAt") << Reply::json(200, QJsonObject{{"sizeBytes", 71}}) << std::optional<E>();
        QTest::newRow("200 without sizeBytes") << Reply::json(200, QJsonObject{{"storedAt", "x"}})
                                               << std::optional<E>(E::decode());
        QTest::newRow("200 fractional size") << Reply::json(200, QJsonObject{{"sizeBytes", 71.5}})
                                             << std::optional<E>(E::decode());
        QTest::newRow("200 size as text") << Reply::json(200, QJsonObject{{"sizeBytes", "71"}})
                                          << std::optional<E>(E::decode());
        QTest::newRow("200 not JSON") << Reply::text(200, "ok") << std::optional<E>(E::decode());
        QTest::newRow("201") << Reply::json(201, QJsonObject{{"sizeBytes", 71}}) << std::optional<E>(E::server(201));
        QTest::newRow("404") << Reply::empty(404) << std::optional<E>(E::server(404));
        QTest::newRow("413") << Reply::empty(413) << std::optional<E>(E::tooLarge());
        QTest::newRow("500") << Reply::empty(500) << std::optional<E>(E::server(500));
    }

    void uploadAnswers()
    {
        QFETCH(Reply, reply);
        QFETCH(std::optional<BackupSyncError>, error);
        fixture->server.setReply("/api/backup", reply);
        fixture->start();
        QCOMPARE(failureOf(provider().upload(payload)), error);
    }

    void downloadAnswers_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<std::optional<QByteArray>>("backup");
        QTest::addColumn<std::optional<BackupSyncError>>("error");
        using E = BackupSyncError;
        QTest::newRow("200") << Reply::text(200, payload, "application/json") << std::optional<QByteArray>(payload)
                             << std::optional<E>();
        QTest::newRow("200 empty body") << Reply::empty(200) << std::optional<QByteArray>(QByteArray())
                                        << std::optional<E>();
        QTest::newRow("404: no backup") << Reply::json(404, QJsonObject{{"error", "not found"}})
                                        << std::optional<QByteArray>() << std::optional<E>();
        QTest::newRow("413") << Reply::empty(413) << std::optional<QByteArray>() << std::optional<E>(E::server(413));
        QTest::newRow("500") << Reply::empty(500) << std::optional<QByteArray>() << std::optional<E>(E::server(500));
    }

    void downloadAnswers()
    {
        QFETCH(Reply, reply);
        QFETCH(std::optional<QByteArray>, backup);
        QFETCH(std::optional<BackupSyncError>, error);
        fixture->server.setReply("/api/backup", reply);
        fixture->start();
        try {
            const std::optional<QByteArray> downloaded = TaskRunner::run(provider().download());
            QVERIFY2(!error, "expected a failure");
            QCOMPARE(downloaded, backup); // an empty body is empty bytes, not "no backup"
        } catch (const BackupSyncError &failure) {
            QCOMPARE(std::optional<BackupSyncError>(failure), error);
        }
    }

    void unauthorizedSignsOut_data()
    {
        QTest::addColumn<bool>("upload");
        QTest::newRow("upload") << true;
        QTest::newRow("download") << false;
    }

    void unauthorizedSignsOut()
    {
        QFETCH(bool, upload);
        fixture->server.setReply("/api/backup", Reply::json(401, QJsonObject{}));
        fixture->store(fixture->issuedSession("ann@example.com"));
        AuthService &auth = fixture->start();
        const auto failure = upload ? failureOf(provider().upload(payload)) : failureOf(provider().download());
        QCOMPARE(failure, BackupSyncError::unauthorized());
        QVERIFY(!auth.isSignedIn());
        QTRY_COMPARE(fixture->storedItem(), std::nullopt);
    }

    // Every way the transfer can fail is `transport`, a cancellation and a time-out included.
    void transportFailures_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("upload");
        for (bool upload : {true, false}) {
            const char *op = upload ? "upload" : "download";
            QTest::addRow("%s refused", op) << Reply() << true << false << upload;
            QTest::addRow("%s timed out", op) << Reply::neverAnswer() << false << false << upload;
            QTest::addRow("%s closed mid-body", op) << Reply::closeMidBody(200, payload, 5) << false << false << upload;
            QTest::addRow("%s cancelled", op) << Reply::neverAnswer() << false << true << upload;
        }
    }

    void transportFailures()
    {
        QFETCH(Reply, reply);
        QFETCH(bool, refused);
        QFETCH(bool, cancel);
        QFETCH(bool, upload);
        fixture->server.setReply("/api/backup", reply);
        fixture->start();
        HttpSession::Configuration configuration = RemoteAPIConfig::sharedSessionConfiguration();
        configuration.resourceTimeout = cancel ? 10s : 300ms; // stands in for the 60-second limit
        session = std::make_unique<HttpSession>(configuration);
        RemoteBackupProvider backups = provider(refused ? HttpFake::refusedUrl() : QUrl());

        CancellationToken token;
        const auto failure = upload ? failureOf(backups.upload(payload, token), cancel ? &fixture->server : nullptr, token)
                                    : failureOf(backups.download(token), cancel ? &fixture->server : nullptr, token);
        QCOMPARE(failure, BackupSyncError::transport());
    }
};

QTEST_GUILESS_MAIN(TestRemoteBackup)
#include "tst_remotebackup.moc"
