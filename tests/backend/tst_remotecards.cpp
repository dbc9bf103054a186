#include "AuthFixture.h"
#include "JsonKeyOrder.h"

#include "backend/RemoteLLMProvider.h"

#include <QJsonArray>
#include <QtTest>

using namespace std::chrono_literals;
using Reply = HttpFake::Reply;

Q_DECLARE_METATYPE(HttpFake::Reply)
Q_DECLARE_METATYPE(std::optional<RemoteCardsError>)

namespace {

QJsonObject card(const QString &en, const QString &tag = QStringLiteral("词汇"))
{
    return QJsonObject{{"en", en}, {"cn", "中文"}, {"note", "说明"}, {"example", "An example."}, {"tag", tag},
                       {"lineTimestamp", 12.5}};
}

QJsonObject answer(const QJsonArray &cards)
{
    return QJsonObject{{"cards", cards}, {"songKey", "artist|title"}};
}

NowPlayingTrack track(const QString &title = QStringLiteral("Title"), const QString &artist = QStringLiteral("Artist"))
{
    NowPlayingTrack t;
    t.title = title;
    t.artist = artist;
    t.duration = 200;
    return t;
}

const QString lyrics = QStringLiteral("[00:01.00]Hello\n[00:02.00]World\n");

std::optional<RemoteCardsError> failureOf(QCoro::Task<QList<GoldenCard>> task)
{
    try {
        TaskRunner::run(std::move(task));
    } catch (const RemoteCardsError &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

class TestRemoteCards : public QObject
{
    Q_OBJECT

    std::unique_ptr<AuthFixture> fixture;
    std::unique_ptr<HttpSession> session;
    std::unique_ptr<ManualContinuousClock> clock;

    RemoteLLMProvider provider(const QUrl &base = QUrl())
    {
        return RemoteLLMProvider(session.get(), base.isEmpty() ? fixture->server.baseUrl() : base,
                                 fixture->auth.get(), std::make_shared<ContinuousBudgetClock>(clock.get()));
    }

private slots:
    void init()
    {
        fixture = std::make_unique<AuthFixture>();
        session = std::make_unique<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
        clock = std::make_unique<ManualContinuousClock>();
    }

    void validation_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("lyrics");
        QTest::addColumn<QString>("detail");

        QTest::newRow("title of spaces") << "   " << "Artist" << lyrics << "title";
        QTest::newRow("artist of a newline") << "Title" << "\n" << lyrics << "artist";
        QTest::newRow("blank lyrics") << "Title" << "Artist" << " \n\u3000" << "lyrics";
        QTest::newRow("everything blank: title first") << "" << "" << "" << "title";
    }

    void validation()
    {
        QFETCH(QString, title);
        QFETCH(QString, artist);
        QFETCH(QString, lyrics);
        QFETCH(QString, detail);
        fixture->start();
        QCOMPARE(failureOf(provider().fetchCards(lyrics, track(title, artist), std::nullopt)),
                 RemoteCardsError::invalidInput(detail));
        QCOMPARE(fixture->server.totalCount(), 0);
    }

    void requestBody_data()
    {
        QTest::addColumn<std::optional<QString>>("targetLanguage");
        QTest::newRow("no target language") << std::optional<QString>();
        QTest::newRow("en") << std::optional<QString>("en");
    }

    // Title, artist and lyrics go out exactly as given; "targetLanguage" only when there is one.
    void requestBody()
    {
        QFETCH(std::optional<QString>, targetLanguage);
        fixture->server.setReply("/api/cards", Reply::json(200, answer({card("hello")})));
        fixture->store(fixture->issuedSession("ann@example.com"));
        AuthService &auth = fixture->start();

        const QString paddedLyrics = "\n" + lyrics + "  ";
        TaskRunner::run(provider().fetchCards(paddedLyrics, track(" Title ", "Artist\n"), targetLanguage));

        const HttpFake::Request request = fixture->server.lastRequest("/api/cards");
        QCOMPARE(request.method, QByteArray("POST"));
        QJsonObject expected{{"title", " Title "}, {"artist", "Artist\n"}, {"lyrics", paddedLyrics}};
        if (targetLanguage)
            expected.insert("targetLanguage", *targetLanguage);
        QCOMPARE(request.jsonObject(), expected);
        QStringList order{"title", "artist", "lyrics"};
        if (targetLanguage)
            order << "targetLanguage";
        QCOMPARE(JsonKeyOrder::keys(request.body), order);
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("Accept"), QByteArray("application/json"));
        QCOMPARE(request.header("Authorization"), ("Bearer " + auth.session()->accessToken).toUtf8());
    }

    void answers_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<std::optional<RemoteCardsError>>("error");
        QTest::addColumn<QString>("message"); // the user message of the error

        using E = RemoteCardsError;
        using C = SSEEvent::ErrorCategory;
        const QString parseText = QStringLiteral("卡片响应解析失败。");
        const QString failedText = QStringLiteral("AI 生成卡片失败,请稍后再试。");

        QTest::newRow("200") << Reply::json(200, answer({card("a"), card("b")})) << std::optional<E>() << QString();
        QTest::newRow("200 empty cards") << Reply::json(200, answer({}))
                                         << std::optional<E>(E::parse("empty cards array")) << parseText;
        QJsonObject warned = answer({});
        warned["warning"] = "lyrics too short";
        QTest::newRow("200 empty cards with warning") << Reply::json(200, warned)
                                                      << std::optional<E>(E::parse("lyrics too short")) << parseText;
        QTest::newRow("200 without songKey") << Reply::json(200, QJsonObject{{"cards", QJsonArray{card("a")}}})
                                             << std::optional<E>(E::parse("")) << parseText;
        QJsonObject noTag = card("a");
        noTag.remove("tag");
        QTest::newRow("200 card without tag") << Reply::json(200, answer({card("a"), noTag}))
                                              << std::optional<E>(E::parse("")) << parseText;
        QJsonObject textTime = card("a");
        textTime["lineTimestamp"] = "12.5";
        QTest::newRow("200 time as text") << Reply::json(200, answer({textTime})) << std::optional<E>(E::parse(""))
                                          << parseText;
        QTest::newRow("200 cards not an array") << Reply::json(200, QJsonObject{{"cards", "x"}, {"songKey", "k"}})
                                                << std::optional<E>(E::parse("")) << parseText;
        QTest::newRow("400") << Reply::json(400, QJsonObject{})
                             << std::optional<E>(E::invalidInput("server-rejected"))
                             << QStringLiteral("请求参数无效:server-rejected");
        QTest::newRow("502 rate limit") << Reply::json(502, QJsonObject{{"error", "slow down"}, {"category", "rate_limit"}})
                                        << std::optional<E>(E::upstream(C::rateLimit))
                                        << QStringLiteral("AI 生成卡片被限流,请稍后再试。");
        QTest::newRow("502 timeout") << Reply::json(502, QJsonObject{{"error", "late"}, {"category", "timeout"}})
                                     << std::optional<E>(E::upstream(C::timeout))
                                     << QStringLiteral("AI 生成卡片超时,请稍后再试。");
        QTest::newRow("502 unknown") << Reply::json(502, QJsonObject{{"error", "?"}, {"category", "unknown"}})
                                     << std::optional<E>(E::upstream(C::unknown)) << failedText;
        QTest::newRow("502 other category") << Reply::json(502, QJsonObject{{"error", "?"}, {"category", "Rate_Limit"}})
                                            << std::optional<E>(E::upstream(C::upstreamError)) << failedText;
        QTest::newRow("502 without error text") << Reply::json(502, QJsonObject{{"category", "rate_limit"}})
                                                << std::optional<E>(E::upstream(C::upstreamError)) << failedText;
        QTest::newRow("502 not JSON") << Reply::text(502, "Bad Gateway")
                                      << std::optional<E>(E::upstream(C::upstreamError)) << failedText;
        QTest::newRow("503") << Reply::empty(503) << std::optional<E>(E::server(503))
                             << QStringLiteral("服务器暂时不可用 (503)。");
        QTest::newRow("201") << Reply::json(201, answer({card("a")})) << std::optional<E>(E::server(201))
                             << QStringLiteral("服务器暂时不可用 (201)。");
    }

    void answers()
    {
        QFETCH(Reply, reply);
        QFETCH(std::optional<RemoteCardsError>, error);
        QFETCH(QString, message);
        fixture->server.setReply("/api/cards", reply);
        fixture->start();

        try {
            const QList<GoldenCard> cards = TaskRunner::run(provider().fetchCards(lyrics, track(), "en"));
            QVERIFY2(!error, "expected a failure");
            QCOMPARE(cards.size(), 2);
            QCOMPARE(cards[0].en, QStringLiteral("a")); // in the order sent
            QCOMPARE(cards[1].lineTimestamp, 12.5);
        } catch (const RemoteCardsError &failure) {
            QVERIFY2(error, failure.what());
            QCOMPARE(failure.kind(), error->kind());
            // Parse details are the decoder's own words unless the client chose them.
            if (failure.kind() != RemoteCardsError::Kind::parse || !error->detail().isEmpty())
                QCOMPARE(failure, *error);
            QCOMPARE(failure.errorDescription(), message);
            QCOMPARE(QString::fromUtf8(failure.what()), message); // what failure logs show
        }
    }

    // Hints are lenient: a bad one is dropped, the card stays.
    void lenientHints()
    {
        QJsonObject odd = card("a");
        odd["listeningDifficulty"] = "Hard";
        odd["culturalHint"] = 7;
        odd["pronunciationHint"] = QJsonObject{{"kind", "linking"}};
        fixture->server.setReply("/api/cards", Reply::json(200, answer({odd})));
        fixture->start();

        const QList<GoldenCard> cards = TaskRunner::run(provider().fetchCards(lyrics, track(), std::nullopt));
        QCOMPARE(cards.size(), 1);
        QCOMPARE(cards[0].listeningDifficulty, std::nullopt);
        QCOMPARE(cards[0].culturalHint, std::nullopt);
        QCOMPARE(cards[0].pronunciationHint, std::nullopt);
    }

    void unauthorizedSignsOut()
    {
        fixture->server.setReply("/api/cards", Reply::json(401, QJsonObject{}));
        fixture->store(fixture->issuedSession("ann@example.com"));
        AuthService &auth = fixture->start();
        QCOMPARE(failureOf(provider().fetchCards(lyrics, track(), std::nullopt)), RemoteCardsError::server(401));
        QVERIFY(!auth.isSignedIn());
        QTRY_COMPARE(fixture->storedItem(), std::nullopt);
    }

    // The budget runs on the continuous clock: at 75 seconds the request is aborted and the call
    // fails as a timed-out transfer.
    void budgetAbortsTheRequest()
    {
        fixture->server.setReply("/api/cards", Reply::neverAnswer());
        fixture->start();
        auto outcome = TaskRunner::start(provider().fetchCards(lyrics, track(), std::nullopt));
        QTRY_COMPARE(fixture->server.count("/api/cards"), 1);
        QCOMPARE(clock->pendingSleepers(), 1);

        clock->advance(74s);
        QTest::qWait(50);
        QVERIFY(!outcome->done());

        // Logged at error level, which is a warning line here.
        QTest::ignoreMessage(QtWarningMsg, "[cards-client] CHAIN JSON → timed out, rethrowing");
        clock->advance(1s);
        QVERIFY(TaskRunner::waitUntilDone(outcome));
        try {
            outcome->take();
            QFAIL("expected a time-out");
        } catch (const RemoteCardsError &error) {
            QCOMPARE(error, RemoteCardsError::transport(QNetworkReply::TimeoutError));
            QCOMPARE(error.errorDescription(), QStringLiteral("网络连接失败,请稍后再试。"));
        }
        QTRY_COMPARE(fixture->server.abortedCount("/api/cards"), 1);
    }

    // An answer within the budget ends the budget's sleep.
    void answerStopsTheBudget()
    {
        fixture->server.setReply("/api/cards", Reply::json(200, answer({card("a")})).withDelay(50ms));
        fixture->start();
        const QList<GoldenCard> cards = TaskRunner::run(provider().fetchCards(lyrics, track(), std::nullopt));
        QCOMPARE(cards.size(), 1);
        QTRY_COMPARE(clock->pendingSleepers(), 0);
    }

    void cancellationIsNotATimeout()
    {
        fixture->server.setReply("/api/cards", Reply::neverAnswer());
        fixture->start();
        CancellationToken token;
        auto outcome = TaskRunner::start(provider().fetchCards(lyrics, track(), std::nullopt, token));
        QTRY_COMPARE(fixture->server.count("/api/cards"), 1);
        token.cancel();
        QVERIFY(TaskRunner::waitUntilDone(outcome));
        QVERIFY_THROWS_EXCEPTION(CancelledError, outcome->take());
        QTRY_COMPARE(fixture->server.abortedCount("/api/cards"), 1);
        QTRY_COMPARE(clock->pendingSleepers(), 0);
    }

    void transportFailures_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QNetworkReply::NetworkError>("code");
        QTest::newRow("refused") << Reply() << true << QNetworkReply::ConnectionRefusedError;
        QTest::newRow("closed mid-body") << Reply::closeMidBody(200, QJsonDocument(answer({card("a")})).toJson(), 8)
                                         << false << QNetworkReply::RemoteHostClosedError;
        QTest::newRow("request's own time-out") << Reply::neverAnswer() << false << QNetworkReply::TimeoutError;
    }

    void transportFailures()
    {
        QFETCH(Reply, reply);
        QFETCH(bool, refused);
        QFETCH(QNetworkReply::NetworkError, code);
        fixture->server.setReply("/api/cards", reply);
        fixture->start();
        HttpSession::Configuration configuration = RemoteAPIConfig::sharedSessionConfiguration();
        configuration.resourceTimeout = 300ms;
        session = std::make_unique<HttpSession>(configuration);

        QCOMPARE(failureOf(provider(refused ? HttpFake::refusedUrl() : QUrl()).fetchCards(lyrics, track(), std::nullopt)),
                 RemoteCardsError::transport(code));
    }
};

QTEST_GUILESS_MAIN(TestRemoteCards)
#include "tst_remotecards.moc"
