// The application's own cards and story clients against the real routes: what the learner sees
// for each outcome of the language model.

#include "LlmFixture.h"

#include "backend/RemoteAPIConfig.h"
#include "backend/RemoteLLMProvider.h"
#include "backend/RemoteSongStoryProvider.h"
#include "server/llm/ChatCompletionsModel.h"
#include "server/llm/ContentServices.h"
#include "TaskRunner.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using Answer = FakeChatServer::Answer;
Q_DECLARE_METATYPE(Answer)

namespace {

const QString lyrics = QStringLiteral("[00:05.00]Row, row, row your boat\n[00:09.50]Gently down the stream\n");

std::string cardsAnswer()
{
    const QJsonObject card{{"en", "gently down the stream"}, {"cn", "顺流而下"}, {"note", "说明"},
                           {"example", "We drifted gently down the river."}, {"tag", "短语"}, {"lineTimestamp", 9.5},
                           {"listeningDifficulty", "medium"}};
    return QJsonDocument(QJsonObject{{"cards", QJsonArray{card}}}).toJson(QJsonDocument::Compact).toStdString();
}

const std::string article = "TITLE: Row, Row, Row Your Boat\nTITLE_CN: 划船歌\n\nEN:\nA nursery rhyme.\n\nCN:\n一首童谣。";

NowPlayingTrack track(const QString &title)
{
    NowPlayingTrack playing;
    playing.title = title;
    playing.artist = QStringLiteral("Traditional");
    return playing;
}

template<class Error, class T>
std::optional<Error> failureOf(QCoro::Task<T> task)
{
    try {
        TaskRunner::run(std::move(task), std::chrono::seconds(20));
    } catch (const Error &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

class TestLlmClients : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeChatServer> fake;
    std::unique_ptr<MemoryStore> store;
    LoopbackHttp http;
    std::unique_ptr<server::ChatCompletionsModel> model;
    std::unique_ptr<server::ContentServices> services;
    std::unique_ptr<ContentHttpServer> routes;
    std::unique_ptr<HttpSession> session;

    void start(bool withModel = true)
    {
        fake = std::make_unique<FakeChatServer>();
        store = std::make_unique<MemoryStore>();
        model = std::make_unique<server::ChatCompletionsModel>(
            http, server::ChatCompletionsModel::Settings{fake->baseUrl(), "m", "", true, 1024 * 1024});
        server::GenerationSettings settings;
        settings.cardsBudget = settings.storyBudget = std::chrono::milliseconds(1000);
        services = std::make_unique<server::ContentServices>(
            *store, withModel ? model.get() : nullptr, server::Prompts::load(server::Prompts::defaultFolder()), settings);
        routes = std::make_unique<ContentHttpServer>(*services);
        session = std::make_unique<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
    }

    RemoteLLMProvider cardsClient() { return RemoteLLMProvider(session.get(), QUrl(routes->baseUrl()), nullptr); }
    RemoteSongStoryProvider storyClient() { return RemoteSongStoryProvider(session.get(), QUrl(routes->baseUrl()), nullptr); }

private slots:
    void cleanup()
    {
        session.reset(); // closes its kept-alive connections, which the server would wait for
        routes.reset();
        services.reset();
        fake.reset();
    }

    void cardsAndStory()
    {
        start();
        fake->script({Answer::chat(cardsAnswer())});
        const QList<GoldenCard> cards = TaskRunner::run(cardsClient().fetchCards(lyrics, track("Row"), QString("en")));
        QCOMPARE(cards.size(), 1);
        QCOMPARE(cards[0].en, QStringLiteral("gently down the stream"));
        QCOMPARE(cards[0].lineTimestamp, std::optional<double>(9.5));
        QCOMPARE(cards[0].listeningDifficulty, std::optional<ListeningDifficulty>(ListeningDifficulty::medium));

        fake->script({Answer::chat("\n" + article + "\n")});
        const SongStory story = TaskRunner::run(storyClient().fetchStory("traditional|row", "Row", "Traditional"));
        QCOMPARE(story.article, QString::fromStdString(article));
        QCOMPARE(ParsedStory::parse(story.article).titleCN, std::optional<QString>("划船歌"));
        QCOMPARE(fake->calls(), 2);
    }

    void cardFailures_data()
    {
        QTest::addColumn<bool>("withModel");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("text");
        QTest::newRow("rate limited") << true << Answer::failure(429) << "AI 生成卡片被限流,请稍后再试。";
        QTest::newRow("too slow") << true << Answer::chat(cardsAnswer()).after(3000) << "AI 生成卡片超时,请稍后再试。";
        QTest::newRow("unusable twice") << true << Answer::chat("{\"cards\":[]}") << "AI 生成卡片失败,请稍后再试。";
        QTest::newRow("model failed") << true << Answer::failure(500) << "AI 生成卡片失败,请稍后再试。";
        QTest::newRow("no model") << false << Answer() << "服务器暂时不可用 (503)。";
    }

    void cardFailures()
    {
        QFETCH(bool, withModel);
        QFETCH(Answer, answer);
        QFETCH(QString, text);
        start(withModel);
        fake->script({answer});
        const auto failure = failureOf<RemoteCardsError>(cardsClient().fetchCards(lyrics, track("Row"), std::nullopt));
        QVERIFY(failure);
        QCOMPARE(failure->errorDescription(), text);
    }

    void lyricsTooLong()
    {
        start();
        const QString longLyrics = lyrics + QString(70 * 1024, QLatin1Char('a'));
        QCOMPARE(failureOf<RemoteCardsError>(cardsClient().fetchCards(longLyrics, track("Row"), std::nullopt)),
                 RemoteCardsError::server(413));
        QCOMPARE(fake->calls(), 0);
    }

    void storyFailures_data()
    {
        QTest::addColumn<bool>("withModel");
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<int>("status");
        QTest::newRow("no Chinese twice") << true << Answer::chat("EN:\nOnly English.") << 502;
        QTest::newRow("rate limited") << true << Answer::failure(429) << 502;
        QTest::newRow("no model") << false << Answer() << 503;
    }

    void storyFailures()
    {
        QFETCH(bool, withModel);
        QFETCH(Answer, answer);
        QFETCH(int, status);
        start(withModel);
        fake->script({answer});
        QCOMPARE(failureOf<RemoteSongStoryError>(storyClient().fetchStory("k", "Row", "Traditional")),
                 RemoteSongStoryError::server(status));
    }
};

QTEST_GUILESS_MAIN(TestLlmClients)
#include "tst_llmclients.moc"
