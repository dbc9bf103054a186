// Two server processes on one PostgreSQL share one language model call per new song.

#include "LlmFixture.h"
#include "PgFixture.h"
#include "ServerClients.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <atomic>
#include <set>

class TestLlmProcesses : public QObject
{
    Q_OBJECT

private slots:
    void oneModelCallAcrossProcesses()
    {
        FakeChatServer fake;
        const QJsonObject card{{"en", "merrily"}, {"cn", "快乐地"}, {"note", "副词"}, {"example", "They sang merrily."},
                               {"tag", "词汇"}, {"lineTimestamp", 12}};
        fake.script({FakeChatServer::Answer::chat(QJsonDocument(QJsonObject{{"cards", QJsonArray{card}}})
                                                      .toJson(QJsonDocument::Compact)
                                                      .toStdString())
                         .after(1500)});

        // One database and one set of keys: a token from one process holds on the other.
        qputenv("CANTORELLA_TEST_DATABASE_URL", PgFixture::instance().createDatabase().toUtf8());
        qputenv("CANTORELLA_JWT_KEY", "a-signing-key-both-processes-share-0123456789");
        qputenv("CANTORELLA_ANON_KEY", "anon-key-of-both");
        const QStringList arguments{"--llm-url", QString::fromStdString(fake.baseUrl()), "--llm-model", "m"};
        ServerClients first(arguments);
        ServerClients second(arguments);
        QCOMPARE(first.server.start(), QString());
        QCOMPARE(second.server.start(), QString());
        first.newDevice(QString::fromUtf8(qgetenv("CANTORELLA_ANON_KEY")));
        first.signUpNew();
        const std::string bearer = first.bearer().toStdString();

        const std::string body = QJsonDocument(QJsonObject{{"title", "Merrily"}, {"artist", "Nobody"},
                                                           {"lyrics", "[00:12.00]Merrily, merrily, merrily"}})
                                     .toJson(QJsonDocument::Compact)
                                     .toStdString();
        const std::array<int, 2> ports{first.server.baseUrl().port(), second.server.baseUrl().port()};
        std::mutex mutex;
        std::multiset<std::pair<int, std::string>> answers;
        std::vector<std::thread> requests;
        for (int i = 0; i < 50; ++i)
            requests.emplace_back([&, i] {
                httplib::Client client("127.0.0.1", ports[i % 2]);
                client.set_read_timeout(std::chrono::seconds(30));
                const auto result = client.Post("/api/cards", {{"Authorization", bearer}}, body, "application/json");
                std::lock_guard lock(mutex);
                answers.insert({result ? result->status : 0, result ? result->body : std::string()});
            });
        for (std::thread &request : requests)
            request.join();

        QCOMPARE(fake.calls(), 1);
        QCOMPARE(answers.size(), std::size_t(50));
        QCOMPARE(answers.count(*answers.begin()), std::size_t(50)); // every answer the same
        QCOMPARE(answers.begin()->first, 200);
        QVERIFY(QByteArray::fromStdString(answers.begin()->second).contains("\"songKey\":\"nobody|merrily\""));
    }
};

QTEST_GUILESS_MAIN(TestLlmProcesses)
#include "tst_llmprocesses.moc"
