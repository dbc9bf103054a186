// The SQLite-backed server under a few hundred clients at once: sign-ups and backup uploads get
// their answers, never 500 ("database is locked"); 503 (with Retry-After) only past the bound of
// the write queue.
#include "ServerProcess.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <functional>
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
    std::map<std::string, int> transportFailures; // by the client's error, each tried again
};

template<class Key>
QString describe(const std::map<Key, int> &counts)
{
    QStringList parts;
    for (const auto &[key, count] : counts) {
        if constexpr (std::is_same_v<Key, std::string>)
            parts << QStringLiteral("%1×%2").arg(count).arg(QString::fromStdString(key));
        else
            parts << QStringLiteral("%1×%2").arg(count).arg(key);
    }
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
            // A request that got no answer at all (the connection failed) is sent again on a new
            // connection, as any client would: this test is about the answers the store gives.
            std::map<std::string, int> failures;
            const auto answered = [&](const std::function<httplib::Result()> &send) {
                httplib::Result result = send();
                for (int attempt = 1; !result && attempt < 3; ++attempt) {
                    ++failures[httplib::to_string(result.error())];
                    result = send();
                }
                return result;
            };
            int attempt = 0;
            const auto body = [&] { // a new address for each attempt: the first may have arrived
                return QJsonDocument(QJsonObject{{"email", QStringLiteral("load%1-%2@example.org").arg(i).arg(attempt++)},
                                                 {"password", "a password"}})
                    .toJson(QJsonDocument::Compact)
                    .toStdString();
            };
            start.arrive_and_wait();
            const auto signUp = answered(
                [&] { return client.Post("/auth/v1/signup", {{"apikey", anonKey}}, body(), "application/json"); });
            const int signUpStatus = signUp ? signUp->status : 0;
            std::string token;
            if (signUpStatus == 200)
                token = QJsonDocument::fromJson(QByteArray::fromStdString(signUp->body))["access_token"].toString().toStdString();
            int uploadStatus = -1; // not tried
            bool missingRetryAfter = signUpStatus == 503 && !signUp->has_header("Retry-After");
            if (!token.empty()) {
                const auto upload = answered([&] {
                    return client.Put("/api/backup?namespace=en", {{"Authorization", "Bearer " + token}}, document,
                                      "application/json");
                });
                uploadStatus = upload ? upload->status : 0;
                missingRetryAfter = missingRetryAfter || (uploadStatus == 503 && !upload->has_header("Retry-After"));
            }
            std::lock_guard lock(mutex);
            ++outcome.signUps[signUpStatus];
            if (uploadStatus >= 0)
                ++outcome.uploads[uploadStatus];
            outcome.busyWithoutRetryAfter += missingRetryAfter ? 1 : 0;
            for (const auto &[error, count] : failures)
                outcome.transportFailures[error] += count;
        });
    }
    for (auto &thread : threads)
        thread.join();
    return outcome;
}

ServerProcess::Options serverWith(const QStringList &arguments)
{
    return ServerProcess::Options{QStringLiteral(CANTORELLA_SERVER_BINARY), QString(),
                                  // Every client comes from 127.0.0.1: the share of one address is the whole table.
                                  QStringList{"--signups-per-minute", "1000000", "--threads", "400",
                                              "--max-connections-per-address", "10000"} + arguments,
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
        qInfo("sign-ups: %s; uploads: %s; sent again after no answer: %s", qPrintable(describe(outcome.signUps)),
              qPrintable(describe(outcome.uploads)), qPrintable(describe(outcome.transportFailures)));
        if (outcome.signUps != std::map<int, int>{{200, clients}} || outcome.uploads != std::map<int, int>{{200, clients}})
            qWarning("the server's log ends: %s", server.log().right(4000).constData());
        QCOMPARE(outcome.signUps, (std::map<int, int>{{200, clients}}));
        QCOMPARE(outcome.uploads, (std::map<int, int>{{200, clients}}));
        QVERIFY(!server.log().contains("database is locked"));
        QCOMPARE(server.stop(), 0); // it lived through it and stops cleanly
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
