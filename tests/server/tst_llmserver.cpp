// The application's cards and story clients against a real cantorella-server whose language
// model is a scripted fake: what the learner sees for each outcome, with and without a model.

#include "LlmFixture.h"
#include "ServerClients.h"

#include "backend/RemoteLLMProvider.h"
#include "backend/RemoteSongStoryProvider.h"
#include "core/NowPlayingTrack.h"
#include "core/StoryParser.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using Answer = FakeChatServer::Answer;
Q_DECLARE_METATYPE(Answer)

namespace {

const QString lyrics = QStringLiteral("[00:05.00]Row, row, row your boat\n[00:09.50]Gently down the stream\n");
const std::string article = "TITLE: Row, Row, Row Your Boat\nTITLE_CN: 划船歌\n\nEN:\nA nursery rhyme.\n\nCN:\n一首童谣。";

std::string cardsAnswer()
{
    const QJsonObject card{{"en", "gently down the stream"}, {"cn", "顺流而下"}, {"note", "说明"},
                           {"example", "We drifted gently down the river."}, {"tag", "短语"}, {"lineTimestamp", 9.5},
                           {"listeningDifficulty", "medium"}};
    return QJsonDocument(QJsonObject{{"cards", QJsonArray{card}}}).toJson(QJsonDocument::Compact).toStdString();
}

NowPlayingTrack track(const QString &title)
{
    NowPlayingTrack playing;
    playing.title = title;
    playing.artist = QStringLiteral("Traditional");
    return playing;
}

} // namespace

class TestLlmServer : public QObject
{
    Q_OBJECT

    FakeChatServer fake;
    std::unique_ptr<ServerClients> withModel;
    std::unique_ptr<ServerClients> withoutModel;

    static RemoteLLMProvider cards(ServerClients &clients)
    {
        return RemoteLLMProvider(&clients.api, clients.server.baseUrl(), clients.auth.get());
    }
    static RemoteSongStoryProvider stories(ServerClients &clients)
    {
        return RemoteSongStoryProvider(&clients.api, clients.server.baseUrl(), clients.auth.get());
    }

private slots:
    void initTestCase()
    {
        withModel = std::make_unique<ServerClients>(QStringList{
            "--llm-url", QString::fromStdString(fake.baseUrl()), "--llm-model", "fake-model", "--llm-cards-budget-ms",
            "1500", "--llm-story-budget-ms", "1500"});
        QCOMPARE(withModel->start(), QString());
        withModel->signUpNew();
        withoutModel = std::make_unique<ServerClients>();
        QCOMPARE(withoutModel->start(), QString());
        withoutModel->signUpNew();
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            withModel->server.printLogTail();
            qWarning("the model was asked %d times", fake.calls());
        }
    }

    // The demo as a new user runs it: the seeded songs answer from the cache, a new song gets
    // the cards error at once instead of a wait.
    void demoWithoutModel()
    {
        QVERIFY(withoutModel->server.log().contains("no language model configured"));
        const NowPlayingTrack grace = track(QStringLiteral("Amazing Grace"));
        QVERIFY(!TaskRunner::run(cards(*withoutModel).fetchCards(lyrics, grace, QStringLiteral("en"))).isEmpty());
        const SongStory story = TaskRunner::run(stories(*withoutModel).fetchStory("k", grace.title, grace.artist));
        QVERIFY(!ParsedStory::parse(story.article).paragraphsCN.isEmpty());

        QElapsedTimer elapsed;
        elapsed.start();
        const auto failure = clientFailure<RemoteCardsError>(cards(*withoutModel).fetchCards(lyrics, track("New"), std::nullopt));
        QVERIFY(failure);
        // The generation failed; the server is not down (a 503 would say it is).
        QCOMPARE(failure->errorDescription(), QStringLiteral("AI 生成卡片失败,请稍后再试。"));
        QVERIFY(elapsed.elapsed() < 5000);
        QCOMPARE(clientFailure<RemoteSongStoryError>(stories(*withoutModel).fetchStory("k", "New", "Traditional")),
                 RemoteSongStoryError::server(502));
    }

    void cardsAndStory()
    {
        fake.script({Answer::chat(cardsAnswer())});
        const QList<GoldenCard> written =
            TaskRunner::run(cards(*withModel).fetchCards(lyrics, track("Row"), QStringLiteral("en")));
        QCOMPARE(written.size(), 1);
        QCOMPARE(written[0].en, QStringLiteral("gently down the stream"));
        QCOMPARE(written[0].lineTimestamp, std::optional<double>(9.5));
        QCOMPARE(written[0].listeningDifficulty, std::optional<ListeningDifficulty>(ListeningDifficulty::medium));

        fake.script({Answer::chat("\n" + article + "\n")});
        const SongStory story = TaskRunner::run(stories(*withModel).fetchStory("traditional|row", "Row", "Traditional"));
        QCOMPARE(story.article, QString::fromStdString(article));
        QCOMPARE(ParsedStory::parse(story.article).titleCN, std::optional<QString>("划船歌"));
    }

    void cardFailures_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("text");
        QTest::newRow("rate limited") << Answer::failure(429) << "AI 生成卡片被限流,请稍后再试。";
        QTest::newRow("too slow") << Answer::chat(cardsAnswer()).after(3000) << "AI 生成卡片超时,请稍后再试。";
        QTest::newRow("unusable twice") << Answer::chat("{\"cards\":[]}") << "AI 生成卡片失败,请稍后再试。";
        QTest::newRow("model failed") << Answer::failure(500) << "AI 生成卡片失败,请稍后再试。";
    }

    void cardFailures()
    {
        QFETCH(Answer, answer);
        QFETCH(QString, text);
        fake.script({answer});
        const auto failure = clientFailure<RemoteCardsError>(
            cards(*withModel).fetchCards(lyrics, track(QLatin1String(QTest::currentDataTag())), std::nullopt));
        QVERIFY(failure);
        QCOMPARE(failure->errorDescription(), text);
    }

    void storyFailures_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::newRow("no Chinese twice") << Answer::chat("EN:\nOnly English.");
        QTest::newRow("rate limited") << Answer::failure(429);
    }

    void storyFailures()
    {
        QFETCH(Answer, answer);
        fake.script({answer});
        QCOMPARE(clientFailure<RemoteSongStoryError>(
                     stories(*withModel).fetchStory("k", QLatin1String(QTest::currentDataTag()), "Traditional")),
                 RemoteSongStoryError::server(502));
    }

    void lyricsOver64KiB()
    {
        const int before = fake.calls();
        const QString longLyrics = lyrics + QString(70 * 1024, QLatin1Char('a'));
        QCOMPARE(clientFailure<RemoteCardsError>(cards(*withModel).fetchCards(longLyrics, track("Long"), std::nullopt)),
                 RemoteCardsError::server(413));
        QCOMPARE(fake.calls(), before);
    }
};

QTEST_GUILESS_MAIN(TestLlmServer)
#include "tst_llmserver.moc"
