#include "AuthFixture.h"

#include "backend/RemoteSongStoryProvider.h"

#include <QtTest>

using namespace std::chrono_literals;
using Reply = HttpFake::Reply;

Q_DECLARE_METATYPE(HttpFake::Reply)
Q_DECLARE_METATYPE(std::optional<RemoteSongStoryError>)

namespace {

const QString article = QStringLiteral("TITLE: Demo\nEN:\nFirst paragraph.\n\nCN:\n第一段。");

QJsonObject answer(const QString &text = article)
{
    return QJsonObject{{"article", text}, {"songKey", "artist|title"}};
}

std::optional<RemoteSongStoryError> failureOf(QCoro::Task<SongStory> task)
{
    try {
        TaskRunner::run(std::move(task));
    } catch (const RemoteSongStoryError &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

class TestRemoteSongStory : public QObject
{
    Q_OBJECT

    std::unique_ptr<AuthFixture> fixture;
    std::unique_ptr<HttpSession> session;

    std::unique_ptr<RemoteSongStoryProvider> provider(const QUrl &base = QUrl())
    {
        return std::make_unique<RemoteSongStoryProvider>(
            session.get(), base.isEmpty() ? fixture->server.baseUrl() : base, fixture->auth.get());
    }

private slots:
    void init()
    {
        fixture = std::make_unique<AuthFixture>();
        session = std::make_unique<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
    }

    void input_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("sentTitle"); // empty: refused before sending

        QTest::newRow("title of spaces") << "   " << "Artist" << "";
        QTest::newRow("empty artist") << "Title" << "" << "";
        QTest::newRow("no-break and ideographic spaces, tab") << "\u00A0\u3000\t" << "Artist" << "";
        QTest::newRow("a line break is not trimmed") << "\n" << "Artist" << "\n";
        QTest::newRow("blanks trimmed") << "\u3000 Title\t" << "Artist" << "Title";
    }

    void input()
    {
        QFETCH(QString, title);
        QFETCH(QString, artist);
        QFETCH(QString, sentTitle);
        fixture->server.setReply("/api/story", Reply::json(200, answer()));
        fixture->start();

        const auto failure = failureOf(provider()->fetchStory("key", title, artist));
        if (sentTitle.isEmpty()) {
            QCOMPARE(failure, RemoteSongStoryError::data("title or artist is empty"));
            QCOMPARE(fixture->server.totalCount(), 0);
        } else {
            QCOMPARE(failure, std::nullopt);
            QCOMPARE(fixture->server.lastRequest("/api/story").jsonObject()["title"].toString(), sentTitle);
        }
    }

    void requestAndStory()
    {
        fixture->server.setReply("/api/story", Reply::json(200, answer("\n  " + article + " \r\n\u2029")));
        fixture->store(fixture->issuedSession("ann@example.com"));
        AuthService &auth = fixture->start();

        const SongStory story = TaskRunner::run(provider()->fetchStory("artist|title", " Title ", "Artist\t"));
        QCOMPARE(story, (SongStory{"Title", "Artist", article, SongStorySource::Remote}));

        const HttpFake::Request request = fixture->server.lastRequest("/api/story");
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.jsonObject(), (QJsonObject{{"title", "Title"}, {"artist", "Artist"}, {"targetLanguage", "en"}}));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("Accept"), QByteArray("application/json")); // from the shared session
        QCOMPARE(request.header("Authorization"), ("Bearer " + auth.session()->accessToken).toUtf8());
    }

    void answers_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<std::optional<RemoteSongStoryError>>("error");

        using E = RemoteSongStoryError;
        QTest::newRow("200") << Reply::json(200, answer()) << std::optional<E>();
        QTest::newRow("article of blanks") << Reply::json(200, answer("  \n ")) << std::optional<E>(E::data("article is empty"));
        QTest::newRow("no songKey") << Reply::json(200, QJsonObject{{"article", article}})
                                    << std::optional<E>(E::data("JSON decoding failed: "));
        QTest::newRow("article not a string") << Reply::json(200, QJsonObject{{"article", 3}, {"songKey", "k"}})
                                              << std::optional<E>(E::data("JSON decoding failed: "));
        QTest::newRow("not JSON") << Reply::text(200, "story") << std::optional<E>(E::data("JSON decoding failed: "));
        QTest::newRow("404") << Reply::json(404, answer()) << std::optional<E>(E::server(404));
        QTest::newRow("500") << Reply::empty(500) << std::optional<E>(E::server(500));
        QTest::newRow("204") << Reply::empty(204) << std::optional<E>(E::server(204));
    }

    void answers()
    {
        QFETCH(Reply, reply);
        QFETCH(std::optional<RemoteSongStoryError>, error);
        fixture->server.setReply("/api/story", reply);
        fixture->start();

        const auto failure = failureOf(provider()->fetchStory("key", "Title", "Artist"));
        if (!error) {
            QCOMPARE(failure, std::nullopt);
        } else if (error->message().startsWith("JSON decoding failed: ")) {
            QVERIFY(failure);
            QCOMPARE(failure->kind(), RemoteSongStoryError::Kind::data);
            QVERIFY2(failure->message().startsWith(error->message()) && failure->message().size() > error->message().size(),
                     qPrintable(failure->message()));
        } else {
            QCOMPARE(failure, error);
        }
    }

    void unauthorizedSignsOut()
    {
        fixture->server.setReply("/api/story", Reply::json(401, QJsonObject{}));
        fixture->store(fixture->issuedSession("ann@example.com"));
        AuthService &auth = fixture->start();
        QCOMPARE(failureOf(provider()->fetchStory("key", "Title", "Artist")), RemoteSongStoryError::server(401));
        QVERIFY(!auth.isSignedIn());
        QTRY_COMPARE(fixture->storedItem(), std::nullopt);
    }

    void transportFailures_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<std::optional<RemoteSongStoryError>>("error");
        QTest::newRow("no answer in time") << Reply::neverAnswer() << false
                                           << std::optional<RemoteSongStoryError>(RemoteSongStoryError::timeout());
        QTest::newRow("refused") << Reply() << true << std::optional<RemoteSongStoryError>(RemoteSongStoryError::network());
        QTest::newRow("closed mid-body") << Reply::closeMidBody(200, QJsonDocument(answer()).toJson(), 5) << false
                                         << std::optional<RemoteSongStoryError>(RemoteSongStoryError::network());
    }

    void transportFailures()
    {
        QFETCH(Reply, reply);
        QFETCH(bool, refused);
        QFETCH(std::optional<RemoteSongStoryError>, error);
        fixture->server.setReply("/api/story", reply);
        fixture->start();
        HttpSession::Configuration configuration = RemoteAPIConfig::sharedSessionConfiguration();
        configuration.resourceTimeout = 300ms; // stands in for the 30-second limit
        session = std::make_unique<HttpSession>(configuration);

        QCOMPARE(failureOf(provider(refused ? HttpFake::refusedUrl() : QUrl())->fetchStory("key", "Title", "Artist")), error);
    }

    // Callers of one key share one request and its outcome — the first caller's title decides —
    // while another key gets its own request.
    void sharesOneRequestPerKey()
    {
        fixture->server.setReply("/api/story", Reply::json(200, answer()).withDelay(100ms));
        fixture->start();
        auto stories = provider();

        auto first = TaskRunner::start(stories->fetchStory("a|t", "Title", "Artist"));
        auto second = TaskRunner::start(stories->fetchStory("a|t", "Other title", "Other artist"));
        auto other = TaskRunner::start(stories->fetchStory("b|u", "Else", "Someone"));
        QCOMPARE(stories->inflightCount(), 2);
        QVERIFY(TaskRunner::waitUntilDone(first));
        QVERIFY(TaskRunner::waitUntilDone(second));
        QVERIFY(TaskRunner::waitUntilDone(other));

        QCOMPARE(fixture->server.count("/api/story"), 2);
        const SongStory firstStory = first->take();
        const SongStory secondStory = second->take();
        QCOMPARE(secondStory, firstStory);
        QCOMPARE(firstStory.title, QStringLiteral("Title"));
        QCOMPARE(other->take().title, QStringLiteral("Else"));
        QCOMPARE(stories->inflightCount(), 0);

        // Nothing is kept: the next call asks again.
        TaskRunner::run(stories->fetchStory("a|t", "Title", "Artist"));
        QCOMPARE(fixture->server.count("/api/story"), 3);
    }

    void sharedFailureReachesEveryCaller()
    {
        fixture->server.enqueueReply("/api/story", Reply::empty(503).withDelay(100ms));
        fixture->server.setReply("/api/story", Reply::json(200, answer()));
        fixture->start();
        auto stories = provider();

        auto first = TaskRunner::start(stories->fetchStory("a|t", "Title", "Artist"));
        auto second = TaskRunner::start(stories->fetchStory("a|t", "Title", "Artist"));
        for (const auto &outcome : {first, second}) {
            QVERIFY(TaskRunner::waitUntilDone(outcome));
            try {
                outcome->take();
                QFAIL("expected a failure");
            } catch (const RemoteSongStoryError &error) {
                QCOMPARE(error, RemoteSongStoryError::server(503));
            }
        }
        QCOMPARE(fixture->server.count("/api/story"), 1);
        QCOMPARE(stories->inflightCount(), 0);

        // The failed entry is gone, so the next call tries again.
        QCOMPARE(failureOf(stories->fetchStory("a|t", "Title", "Artist")), std::nullopt);
        QCOMPARE(fixture->server.count("/api/story"), 2);
    }
};

QTEST_GUILESS_MAIN(TestRemoteSongStory)
#include "tst_remotesongstory.moc"
