// The SQLite-backed server under a few hundred clients at once: sign-ups and backup uploads get
// their answers, never 500 ("database is locked"); 503 (with Retry-After) only past the bound of
// the write queue.
#include "ServerProcess.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <latch>
#include <map>
#include <mutex>
#include <thread>

namespace {

struct Outcome
{
    std::map<int, int> signUps; // status → count (0: no answer)
    std::map<int, int> uploads;
    int busyWithoutRetryAfter = 0;
};

QString describe(const std::map<int, int> &statuses)
{
    QStringList parts;
    for (const auto &[status, count] : statuses)
        parts << QStringLiteral("%1×%2").arg(count).arg(status);
    return parts.join(QStringLiteral(", "));
}

// `clients` threads released together; each signs up a new account and uploads a backup.
Outcome storm(const ServerProcess &server, int clients, std::size_t backupBytes)
{
    Outcome outcome;
    std::mutex mutex;
    std::latch start(clients);
    const std::string anonKey = server.anonKey().toStdString();
    const std::string document = "{\"namespaces\":{\"en\":\"" + std::string(backupBytes, 'x') + "\"}}";
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            httplib::Client client(server.baseUrl().host().toStdString(), server.baseUrl().port());
            client.set_connection_timeout(60);
            client.set_read_timeout(120);
            client.set_write_timeout(120);
            const std::string body = QJsonDocument(QJsonObject{{"email", QStringLiteral("load%1@example.org").arg(i)},
                                                               {"password", "a password"}})
                                         .toJson(QJsonDocument::Compact)
                                         .toStdString();
            start.arrive_and_wait();
            const auto signUp = client.Post("/auth/v1/signup", {{"apikey", anonKey}}, body, "application/json");
            const int signUpStatus = signUp ? signUp->status : 0;
            std::string token;
            if (signUpStatus == 200)
                token = QJsonDocument::fromJson(QByteArray::fromStdString(signUp->body))["access_token"].toString().toStdString();
            int uploadStatus = -1; // not tried
            bool missingRetryAfter = signUpStatus == 503 && !signUp->has_header("Retry-After");
            if (!token.empty()) {
                const auto upload = client.Put("/api/backup?namespace=en", {{"Authorization", "Bearer " + token}},
                                               document, "application/json");
                uploadStatus = upload ? upload->status : 0;
                missingRetryAfter = missingRetryAfter || (uploadStatus == 503 && !upload->has_header("Retry-After"));
            }
            std::lock_guard lock(mutex);
            ++outcome.signUps[signUpStatus];
            if (uploadStatus >= 0)
                ++outcome.uploads[uploadStatus];
            outcome.busyWithoutRetryAfter += missingRetryAfter ? 1 : 0;
        });
    }
    for (auto &thread : threads)
        thread.join();
    return outcome;
}

ServerProcess::Options serverWith(const QStringList &arguments)
{
    return ServerProcess::Options{QStringLiteral(CANTORELLA_SERVER_BINARY), QString(),
                                  QStringList{"--signups-per-minute", "1000000", "--threads", "400"} + arguments,
                                  QString(), QString()};
}

} // namespace

class TestServerLoad : public QObject
{
    Q_OBJECT

private slots:
    // Within the queue's bound (longer than the line can get, a generous wait): every request
    // succeeds, however they pile up.
    void withinTheQueueEveryoneIsServed()
    {
        ServerProcess server(serverWith({"--write-queue", "1000", "--write-wait-ms", "120000"}));
        QCOMPARE(server.start(), QString());
        constexpr int clients = 300;
        const Outcome outcome = storm(server, clients, 200 * 1024);
        qInfo("sign-ups: %s; uploads: %s", qPrintable(describe(outcome.signUps)), qPrintable(describe(outcome.uploads)));
        QCOMPARE(outcome.signUps, (std::map<int, int>{{200, clients}}));
        QCOMPARE(outcome.uploads, (std::map<int, int>{{200, clients}}));
        QVERIFY(!server.log().contains("database is locked"));
    }

    // Past the bound (a line of one, no waiting): some are turned away with 503 and Retry-After;
    // none gets 500, every other one succeeds.
    void pastTheBoundBusyNotBroken()
    {
        ServerProcess server(serverWith({"--write-queue", "1", "--write-wait-ms", "1"}));
        QCOMPARE(server.start(), QString());
        const Outcome outcome = storm(server, 200, 2 * 1024 * 1024);
        qInfo("sign-ups: %s; uploads: %s", qPrintable(describe(outcome.signUps)), qPrintable(describe(outcome.uploads)));
        for (const auto *statuses : {&outcome.signUps, &outcome.uploads}) {
            for (const auto &[status, count] : *statuses)
                QVERIFY2(status == 200 || status == 503, qPrintable(describe(*statuses)));
        }
        QVERIFY2(outcome.signUps.count(503) + outcome.uploads.count(503) > 0, "nothing was turned away");
        QCOMPARE(outcome.busyWithoutRetryAfter, 0);
    }
};

QTEST_GUILESS_MAIN(TestServerLoad)
#include "tst_serverload.moc"
