#include "LlmFixture.h"

#include "server/llm/ChatCompletionsModel.h"
#include "server/llm/ContentServices.h"
#include "server/outbound/CurlHttp.h"

#include "platform/StrictJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using Answer = FakeChatServer::Answer;
using Script = std::vector<Answer>;
Q_DECLARE_METATYPE(Script)
Q_DECLARE_METATYPE(Answer)

namespace {

const QString lyrics = QStringLiteral("[ti:Amazing Grace]\n[00:00.00]\n"
                                      "[00:06.40]Amazing grace! how sweet the sound\n"
                                      "[00:14.30]That saved a wretch like me!\n"
                                      "[01:14.30]I once was lost, but now am found\n");

QJsonObject card(const QString &en, double time, const QString &tag = QStringLiteral("词汇"))
{
    return {{"en", en}, {"cn", "中文"}, {"note", "说明"}, {"example", "An example."}, {"tag", tag},
            {"lineTimestamp", time}};
}

std::string cards(const QJsonArray &list)
{
    return QJsonDocument(QJsonObject{{"cards", list}}).toJson(QJsonDocument::Compact).toStdString();
}

const QJsonObject grace = card("amazing grace", 6.4);
const QJsonObject wretch = card("a wretch  like ME", 14.3, "短语");
const QJsonObject lost = card("I once was lost", 74.3, "语法");

std::string requestBody(const QString &title = QStringLiteral("Amazing Grace"), const QString &text = lyrics)
{
    return QJsonDocument(QJsonObject{{"title", title}, {"artist", "Traditional"}, {"lyrics", text}})
        .toJson(QJsonDocument::Compact)
        .toStdString();
}

QStringList phrasesOf(const std::string &body)
{
    QStringList phrases;
    for (const QJsonValue value : StrictJson::parseObject(QByteArray::fromStdString(body))["cards"].toArray())
        phrases.append(value["en"].toString());
    return phrases;
}

QString categoryOf(const std::string &body)
{
    return StrictJson::parseObject(QByteArray::fromStdString(body))["category"].toString();
}

} // namespace

class TestLlmCards : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeChatServer> fake;
    std::unique_ptr<TemporaryStore> temporary;
    server::ServerStore *store = nullptr;
    server::CurlHttp http;
    std::unique_ptr<server::ChatCompletionsModel> model;

    std::unique_ptr<server::ContentServices> services(server::GenerationSettings settings = {})
    {
        settings.cardsBudget = std::chrono::milliseconds(2000);
        settings.pollInterval = std::chrono::milliseconds(20);
        return std::make_unique<server::ContentServices>(*store, model.get(),
                                                         server::Prompts::load(server::Prompts::defaultFolder()),
                                                         settings);
    }

private slots:
    void init()
    {
        fake = std::make_unique<FakeChatServer>();
        temporary = std::make_unique<TemporaryStore>();
        store = temporary->store.get();
        model = std::make_unique<server::ChatCompletionsModel>(
            http, server::ChatCompletionsModel::Settings{fake->baseUrl(), "test-model", "sk-test", true, 1024 * 1024});
    }

    void answers_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("category");
        QTest::addColumn<QStringList>("phrases");
        QTest::addColumn<int>("calls");

        const QJsonArray good{grace, wretch, lost};
        const QStringList all{"amazing grace", "a wretch  like ME", "I once was lost"};
        const std::string unusable = cards({card("not in the song", 6.4)});
        QTest::newRow("good") << Script{Answer::chat(cards(good))} << 200 << "" << all << 1;
        QTest::newRow("phrase not in the lyrics")
            << Script{Answer::chat(cards({grace, card("amazing race", 6.4), lost}))} << 200 << ""
            << QStringList{"amazing grace", "I once was lost"} << 1;
        QTest::newRow("wrong line time") << Script{Answer::chat(cards({grace, card("how sweet", 7.0), lost}))} << 200
                                         << "" << QStringList{"amazing grace", "I once was lost"} << 1;
        QJsonObject untimed = card("how sweet", 0);
        untimed.remove("lineTimestamp");
        QTest::newRow("no line time") << Script{Answer::chat(cards({grace, untimed, lost}))}
                                      << 200 << "" << QStringList{"amazing grace", "I once was lost"} << 1;
        QJsonObject noTag = wretch;
        noTag.remove("tag");
        QTest::newRow("missing tag") << Script{Answer::chat(cards({grace, noTag, lost}))} << 200 << ""
                                     << QStringList{"amazing grace", "I once was lost"} << 1;
        QTest::newRow("duplicate en and tag") << Script{Answer::chat(cards({grace, card("amazing grace", 6.4), lost}))}
                                              << 200 << "" << QStringList{"amazing grace", "I once was lost"} << 1;
        QTest::newRow("same en, other tag") << Script{Answer::chat(cards({grace, card("amazing grace", 6.4, "发音")}))}
                                            << 200 << "" << QStringList{"amazing grace", "amazing grace"} << 1;
        QTest::newRow("fenced") << Script{Answer::chat("```json\n" + cards(good) + "\n```\n")} << 200 << "" << all << 1;
        QTest::newRow("unusable, then repaired") << Script{Answer::chat(unusable), Answer::chat(cards(good))} << 200
                                                 << "" << all << 2;
        QTest::newRow("content not JSON, then repaired")
            << Script{Answer::chat("Here are your cards: {"), Answer::chat(cards(good))} << 200 << "" << all << 2;
        QTest::newRow("unusable twice") << Script{Answer::chat(unusable), Answer::chat(cards({}))} << 502
                                        << "upstream_error" << QStringList() << 2;
        QTest::newRow("429") << Script{Answer::failure(429)} << 502 << "rate_limit" << QStringList() << 1;
        QTest::newRow("500") << Script{Answer::failure(500)} << 502 << "upstream_error" << QStringList() << 1;
        QTest::newRow("repair answered 429") << Script{Answer::chat(unusable), Answer::failure(429)} << 502
                                             << "rate_limit" << QStringList() << 2;
        QTest::newRow("slower than the budget") << Script{Answer::chat(cards(good)).after(4000)} << 502 << "timeout"
                                                << QStringList() << 1;
        QTest::newRow("repair slower than the budget")
            << Script{Answer::chat(unusable).after(500), Answer::chat(cards(good)).after(4000)} << 502 << "timeout"
            << QStringList() << 2;
        QTest::newRow("10 MB answer") << Script{Answer::chat(std::string(10 * 1024 * 1024, ' ') + cards(good))} << 502
                                      << "upstream_error" << QStringList() << 1;
        QTest::newRow("not a chat answer") << Script{Answer::raw("{\"choices\": []}")} << 502 << "upstream_error"
                                           << QStringList() << 1;
        QTest::newRow("body not JSON") << Script{Answer::raw("<html>")} << 502 << "upstream_error" << QStringList()
                                       << 1;
    }

    void answers()
    {
        QFETCH(Script, script);
        QFETCH(int, status);
        QFETCH(QString, category);
        QFETCH(QStringList, phrases);
        QFETCH(int, calls);
        fake->script(script);

        QElapsedTimer elapsed;
        elapsed.start();
        const server::Reply reply = services()->cards(requestBody(), QStringLiteral("user-1"));
        QVERIFY2(elapsed.elapsed() < 3500, "the budget holds, a repair included");
        QCOMPARE(reply.status, status);
        QCOMPARE(fake->calls(), calls);
        if (status == 200) {
            QCOMPARE(phrasesOf(reply.body), phrases);
            QCOMPARE(StrictJson::parseObject(QByteArray::fromStdString(reply.body))["songKey"].toString(),
                     QStringLiteral("traditional|amazing grace"));
        } else {
            QCOMPARE(categoryOf(reply.body), category);
        }
    }

    // The second request of a repair carries the first answer and what was wrong with it.
    void repairCarriesTheComplaints()
    {
        fake->script({Answer::chat(cards({card("amazing race", 6.4), card("a wretch", 15.0)})),
                      Answer::chat(cards({grace}))});
        QCOMPARE(services()->cards(requestBody(), "u").status, 200);
        const auto sent = fake->requests();
        QCOMPARE(sent.size(), std::size_t(2));
        const QJsonArray messages = StrictJson::parseObject(QByteArray::fromStdString(sent[1]))["messages"].toArray();
        QCOMPARE(messages.size(), 3);
        QCOMPARE(messages[1]["role"].toString(), QStringLiteral("assistant"));
        const QString repair = messages[2]["content"].toString();
        QVERIFY2(repair.contains("\"amazing race\" does not occur in the lyrics"), qPrintable(repair));
        QVERIFY2(repair.contains("15 is not the time of a lyric line"), qPrintable(repair));
        QVERIFY2(repair.contains("6.4, 14.3, 74.3"), qPrintable(repair));
    }

    void requestToTheModel()
    {
        fake->script({Answer::chat(cards({grace}))});
        QCOMPARE(services()->cards(requestBody(), "u").status, 200);
        const QJsonObject sent = StrictJson::parseObject(QByteArray::fromStdString(fake->requests().at(0)));
        QCOMPARE(sent["model"].toString(), QStringLiteral("test-model"));
        QCOMPARE(sent["response_format"].toObject(), (QJsonObject{{"type", "json_object"}}));
        const QString prompt = sent["messages"][0]["content"].toString();
        QVERIFY(prompt.contains(lyrics));
    }

    // A cached answer costs no call; curated (seeded) answers win and need no model at all.
    void cache()
    {
        fake->script({Answer::chat(cards({grace}))});
        auto cardsService = services();
        QCOMPARE(cardsService->cards(requestBody(), "u").status, 200);
        const server::Reply again = cardsService->cards(requestBody("  AMAZING grace "), "u");
        QCOMPARE(again.status, 200);
        QCOMPARE(phrasesOf(again.body), QStringList{"amazing grace"});
        QCOMPARE(fake->calls(), 1);

        store->putCached("cards", "traditional|seeded", cards({lost}), 0, std::nullopt);
        model.reset();
        auto withoutModel = services();
        QCOMPARE(phrasesOf(withoutModel->cards(requestBody("Seeded"), "u").body), QStringList{"I once was lost"});
        QCOMPARE(withoutModel->cards(requestBody("New song"), "u").status, 502);
    }

    void limits_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("lyrics of 64 KiB") << QString::fromStdString(requestBody("T", lyrics + QString(65536 - lyrics.size(), 'x')))
                                          << 200;
        QTest::newRow("lyrics over 64 KiB")
            << QString::fromStdString(requestBody("T", lyrics + QString(65537 - lyrics.size(), 'x'))) << 413;
        QTest::newRow("not JSON") << "title=x" << 400;
        QTest::newRow("lyrics missing") << R"({"title":"T","artist":"A"})" << 400;
        QTest::newRow("blank title") << QString::fromStdString(requestBody(" \n")) << 400;
    }

    void limits()
    {
        QFETCH(QString, body);
        QFETCH(int, status);
        fake->script({Answer::chat(cards({grace}))});
        QCOMPARE(services()->cards(body.toStdString(), "u").status, status);
    }

    // New generations per user and day, and model calls at once: beyond either, "rate_limit".
    void quotaAndConcurrency()
    {
        fake->script({Answer::chat(cards({grace}))});
        server::GenerationSettings settings;
        settings.dailyQuota = 2;
        auto limited = services(settings);
        QCOMPARE(limited->cards(requestBody("One"), "ann").status, 200);
        QCOMPARE(limited->cards(requestBody("Two"), "ann").status, 200);
        const server::Reply third = limited->cards(requestBody("Three"), "ann");
        QCOMPARE(categoryOf(third.body), QStringLiteral("rate_limit"));
        QCOMPARE(limited->cards(requestBody("Three"), "bob").status, 200);
        QCOMPARE(limited->cards(requestBody("One"), "ann").status, 200); // cached: no generation

        // The one call allowed at once is the held song's, whichever request reaches the model first.
        fake->scriptFor("Held Song", {Answer::chat(cards({grace})).heldUntilReleased()});
        settings = {};
        settings.maxConcurrentCalls = 1;
        auto capped = services(settings);
        int heldStatus = 0;
        std::thread held([&] { heldStatus = capped->cards(requestBody("Held Song"), "ann").status; });
        const bool calling = fake->waitForCall("Held Song");
        const server::Reply refused = capped->cards(requestBody("Other"), "bob");
        fake->release();
        held.join();
        QVERIFY(calling);
        QCOMPARE(heldStatus, 200);
        QCOMPARE(refused.status, 502);
        QCOMPARE(categoryOf(refused.body), QStringLiteral("rate_limit"));
    }

    // Concurrent requests for one song share one model call and its outcome, success or failure.
    void oneGenerationPerSong_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<int>("status");
        QTest::newRow("answered") << Answer::chat(cards({grace})).after(300) << 200;
        QTest::newRow("failed") << Answer::failure(429).after(300) << 502;
    }

    void oneGenerationPerSong()
    {
        QFETCH(Answer, answer);
        QFETCH(int, status);
        fake->script({answer});
        auto shared = services();
        std::vector<std::thread> threads;
        std::atomic<int> matching{0};
        for (int i = 0; i < 20; ++i)
            threads.emplace_back([&, i] {
                if (shared->cards(requestBody(), QString::number(i)).status == status)
                    ++matching;
            });
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(matching.load(), 20);
        QCOMPARE(fake->calls(), 1);
    }
};

QTEST_GUILESS_MAIN(TestLlmCards)
#include "tst_llmcards.moc"
