#include "AuthFixture.h"
#include "JsonKeyOrder.h"

#include "backend/RemoteLyricsProvider.h"

#include <QJsonArray>
#include <QtTest>

#include <cmath>
#include <limits>

using namespace std::chrono_literals;
using Reply = HttpFake::Reply;

Q_DECLARE_METATYPE(HttpFake::Reply)
Q_DECLARE_METATYPE(std::optional<RemoteLyricsError>)

namespace {

const QString lrc = QStringLiteral("[ti:Demo]\n[00:01.00]First line\n[00:03.50]Second line\n");

QJsonObject answer(const QString &lyrics, const QString &source = QStringLiteral("lrclib"))
{
    return QJsonObject{{"lyrics", lyrics}, {"source", source}, {"songKey", "artist|title"}, {"language", "en"}};
}

// The call's failure, or nothing when it succeeded.
std::optional<RemoteLyricsError> failureOf(QCoro::Task<RemoteLyricsFetchResult> task)
{
    try {
        TaskRunner::run(std::move(task));
    } catch (const RemoteLyricsError &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

class TestRemoteLyrics : public QObject
{
    Q_OBJECT

    std::unique_ptr<AuthFixture> fixture;
    std::unique_ptr<HttpSession> session;

    RemoteLyricsProvider provider(const QUrl &base = QUrl())
    {
        return RemoteLyricsProvider(session.get(), fixture->auth.get(),
                                    base.isEmpty() ? fixture->server.baseUrl() : base);
    }
    void signIn() { fixture->store(fixture->issuedSession(QStringLiteral("ann@example.com"))); }

private slots:
    void init()
    {
        fixture = std::make_unique<AuthFixture>();
        session = std::make_unique<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
    }

    void validation_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("detail"); // empty: passes and is sent

        const QString a256(256, QLatin1Char('a'));
        QTest::newRow("blank title") << " \n\t" << "Artist" << "title";
        QTest::newRow("blank title wins over blank artist") << "  \n" << "" << "title";
        QTest::newRow("blank artist") << "Title" << "\u3000\n" << "artist";
        QTest::newRow("title of 256") << a256 << "Artist" << "";
        QTest::newRow("title of 257") << a256 + "a" << "Artist" << "title>256";
        QTest::newRow("250 plus 10 blanks counts before trimming")
            << QString(5, ' ') + QString(250, 'b') + QString(5, ' ') << "Artist" << "title>256";
        QTest::newRow("artist of 257") << "Title" << a256 + "a" << "artist>256";
        // A flag is one character made of four UTF-16 units.
        QString flags;
        for (int i = 0; i < 256; ++i)
            flags += QStringLiteral("\U0001F1E8\U0001F1F3");
        QTest::newRow("256 flags") << flags << "Artist" << "";
        QTest::newRow("257 flags") << flags + QStringLiteral("\U0001F1E8\U0001F1F3") << "Artist" << "title>256";
    }

    void validation()
    {
        QFETCH(QString, title);
        QFETCH(QString, artist);
        QFETCH(QString, detail);
        fixture->server.setReply("/api/track", Reply::json(200, answer(lrc)));
        fixture->start();

        const auto failure = failureOf(provider().fetch(title, artist, 0, QString()));
        if (detail.isEmpty()) {
            QCOMPARE(failure, std::nullopt);
            QCOMPARE(fixture->server.count("/api/track"), 1);
        } else {
            QCOMPARE(failure, RemoteLyricsError::invalidInput(detail));
            QCOMPARE(fixture->server.totalCount(), 0);
        }
    }

    void requestBody_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<QJsonValue>("sent"); // Undefined: no "duration" key

        QTest::newRow("215.5") << 215.5 << QJsonValue(215.5);
        QTest::newRow("zero") << 0.0 << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("negative") << -3.0 << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("NaN") << std::nan("") << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << QJsonValue(QJsonValue::Undefined);
    }

    void requestBody()
    {
        QFETCH(double, duration);
        QFETCH(QJsonValue, sent);
        fixture->server.setReply("/api/track", Reply::json(200, answer(lrc)));
        signIn();
        AuthService &auth = fixture->start();

        TaskRunner::run(provider().fetch(" Title ", "Artist\n", duration, "org.mpris.MediaPlayer2.mpv"));

        const HttpFake::Request request = fixture->server.lastRequest("/api/track");
        QCOMPARE(request.method, QByteArray("POST"));
        QJsonObject expected{{"title", "Title"}, {"artist", "Artist"}, {"targetLanguage", "en"}};
        if (!sent.isUndefined())
            expected.insert("duration", sent);
        QCOMPARE(request.jsonObject(), expected);
        const QStringList order = sent.isUndefined() ? QStringList{"title", "artist", "targetLanguage"}
                                                     : QStringList{"title", "artist", "duration", "targetLanguage"};
        QCOMPARE(JsonKeyOrder::keys(request.body), order);
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("Accept"), QByteArray("application/json"));
        QCOMPARE(request.header("Authorization"), ("Bearer " + auth.session()->accessToken).toUtf8());
    }

    void signedOutSendsNoAuthorization()
    {
        fixture->server.setReply("/api/track", Reply::json(200, answer(lrc)));
        fixture->start();
        TaskRunner::run(provider().fetch("Title", "Artist", 10, QString()));
        QCOMPARE(fixture->server.lastRequest("/api/track").header("Authorization"), std::nullopt);
    }

    void answers_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<std::optional<RemoteLyricsError>>("error");

        using E = RemoteLyricsError;
        QTest::newRow("200") << Reply::json(200, answer(lrc)) << std::optional<E>();
        QTest::newRow("200 without songKey") << Reply::json(200, QJsonObject{{"lyrics", lrc}, {"source", "lrclib"}})
                                             << std::optional<E>(E::decode(""));
        QTest::newRow("200 lyrics not a string") << Reply::json(200, QJsonObject{{"lyrics", 5}, {"source", "lrclib"},
                                                                                 {"songKey", "k"}})
                                                 << std::optional<E>(E::decode(""));
        QTest::newRow("200 not JSON") << Reply::text(200, "<html>") << std::optional<E>(E::decode(""));
        QTest::newRow("400") << Reply::json(400, QJsonObject{}) << std::optional<E>(E::invalidInput("server-rejected"));
        QTest::newRow("404") << Reply::json(404, QJsonObject{}) << std::optional<E>(E::notFound());
        QTest::newRow("201") << Reply::json(201, answer(lrc)) << std::optional<E>(E::server(201));
        QTest::newRow("204") << Reply::empty(204) << std::optional<E>(E::server(204));
        QTest::newRow("403") << Reply::empty(403) << std::optional<E>(E::server(403));
        QTest::newRow("429") << Reply::empty(429) << std::optional<E>(E::server(429));
        QTest::newRow("500") << Reply::text(500, "down") << std::optional<E>(E::server(500));
    }

    void answers()
    {
        QFETCH(Reply, reply);
        QFETCH(std::optional<RemoteLyricsError>, error);
        fixture->server.setReply("/api/track", reply);
        fixture->start();

        try {
            const RemoteLyricsFetchResult result = TaskRunner::run(provider().fetch("Title", "Artist", 0, QString()));
            QVERIFY2(!error, "expected a failure");
            QCOMPARE(result.result.rawLRC(), lrc);
            QCOMPARE(result.result.lines().size(), 2);
            QCOMPARE(result.source, LyricsSource::lrclib);
            QCOMPARE(result.language, QStringLiteral("en"));
        } catch (const RemoteLyricsError &failure) {
            QVERIFY2(error, failure.what());
            QCOMPARE(failure.kind(), error->kind());
            // The decoder's own wording is not pinned down.
            if (failure.kind() != RemoteLyricsError::Kind::decode)
                QCOMPARE(failure, *error);
        }
    }

    // What the 200 answer holds decides the result; none of these is an error.
    void decodedAnswers_data()
    {
        QTest::addColumn<QJsonObject>("body");
        QTest::addColumn<bool>("synced");
        QTest::addColumn<LyricsSource>("source");
        QTest::addColumn<std::optional<QString>>("language");

        const QJsonObject base = answer(lrc);
        QJsonObject empty = base;
        empty["lyrics"] = "";
        QJsonObject unstamped = base;
        unstamped["lyrics"] = "Just words\n[ar:Someone]\n";
        QJsonObject unknownSource = base;
        unknownSource["source"] = "spotify";
        QJsonObject netease = base;
        netease["source"] = "netease";
        QJsonObject noLanguage = base;
        noLanguage.remove("language");
        QJsonObject nullLanguage = base;
        nullLanguage["language"] = QJsonValue::Null;

        QTest::newRow("synced") << base << true << LyricsSource::lrclib << std::optional<QString>("en");
        QTest::newRow("empty lyrics") << empty << false << LyricsSource::lrclib << std::optional<QString>("en");
        QTest::newRow("no stamped line") << unstamped << false << LyricsSource::lrclib << std::optional<QString>("en");
        QTest::newRow("unknown source") << unknownSource << true << LyricsSource::lrclib << std::optional<QString>("en");
        QTest::newRow("netease") << netease << true << LyricsSource::netease << std::optional<QString>("en");
        QTest::newRow("no language") << noLanguage << true << LyricsSource::lrclib << std::optional<QString>();
        QTest::newRow("null language") << nullLanguage << true << LyricsSource::lrclib << std::optional<QString>();
    }

    void decodedAnswers()
    {
        QFETCH(QJsonObject, body);
        QFETCH(bool, synced);
        QFETCH(LyricsSource, source);
        QFETCH(std::optional<QString>, language);
        fixture->server.setReply("/api/track", Reply::json(200, body));
        fixture->start();

        const RemoteLyricsFetchResult result = TaskRunner::run(provider().fetch("Title", "Artist", 0, QString()));
        QCOMPARE(result.result.isSynced(), synced);
        if (synced)
            QCOMPARE(result.result.rawLRC(), body["lyrics"].toString()); // as received, not trimmed
        QCOMPARE(result.source, source);
        QCOMPARE(result.language, language);
    }

    void unauthorizedSignsOut()
    {
        fixture->server.setReply("/api/track", Reply::json(401, QJsonObject{}));
        signIn();
        AuthService &auth = fixture->start();
        QVERIFY(auth.isSignedIn());

        QCOMPARE(failureOf(provider().fetch("Title", "Artist", 0, QString())), RemoteLyricsError::server(401));
        QVERIFY(!auth.isSignedIn());
        QTRY_COMPARE(fixture->storedItem(), std::nullopt);
    }

    void transportFailures_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QNetworkReply::NetworkError>("code");

        QTest::newRow("refused") << Reply() << true << QNetworkReply::ConnectionRefusedError;
        QTest::newRow("closed mid-body") << Reply::closeMidBody(200, QJsonDocument(answer(lrc)).toJson(), 10) << false
                                         << QNetworkReply::RemoteHostClosedError;
        QTest::newRow("no answer") << Reply::neverAnswer() << false << QNetworkReply::TimeoutError;
    }

    void transportFailures()
    {
        QFETCH(Reply, reply);
        QFETCH(bool, refused);
        QFETCH(QNetworkReply::NetworkError, code);
        fixture->server.setReply("/api/track", reply);
        fixture->start();
        // A short whole-transfer limit stands in for the 12-second idle limit.
        HttpSession::Configuration configuration = RemoteAPIConfig::sharedSessionConfiguration();
        configuration.resourceTimeout = 300ms;
        session = std::make_unique<HttpSession>(configuration);

        const auto failure = failureOf(provider(refused ? HttpFake::refusedUrl() : QUrl())
                                           .fetch("Title", "Artist", 0, QString()));
        QCOMPARE(failure, RemoteLyricsError::transport(code));
        QCOMPARE(failure->errorDescription(), QStringLiteral("网络连接失败,请稍后再试。"));
    }

    void cancellationPassesThrough()
    {
        fixture->server.setReply("/api/track", Reply::neverAnswer());
        fixture->start();
        CancellationToken token;
        auto outcome = TaskRunner::start(provider().fetch("Title", "Artist", 0, QString(), token));
        QTRY_COMPARE(fixture->server.count("/api/track"), 1);
        token.cancel();
        QVERIFY(TaskRunner::waitUntilDone(outcome));
        QVERIFY_THROWS_EXCEPTION(CancelledError, outcome->take());
        QTRY_COMPARE(fixture->server.abortedCount("/api/track"), 1);
    }

    // The texts are the product's own, byte for byte: ASCII colon, comma and parenthesis.
    void messages()
    {
        QCOMPARE(RemoteLyricsError::invalidInput("title").errorDescription(), QStringLiteral("请求参数无效:title"));
        QCOMPARE(RemoteLyricsError::server(500).errorDescription(), QStringLiteral("服务器暂时不可用 (500)。"));
        QCOMPARE(RemoteLyricsError::decode("x").errorDescription(), QStringLiteral("歌词响应解析失败。"));
        QCOMPARE(RemoteLyricsError::notFound().errorDescription(), QStringLiteral("未找到这首歌的歌词。"));
        // Failure logs show what(): the same message, without the hidden detail or code.
        QCOMPARE(QString::fromUtf8(RemoteLyricsError::decode("x").what()), QStringLiteral("歌词响应解析失败。"));
        QCOMPARE(QString::fromUtf8(RemoteLyricsError::transport(QNetworkReply::TimeoutError).what()),
                 QStringLiteral("网络连接失败,请稍后再试。"));
    }
};

QTEST_GUILESS_MAIN(TestRemoteLyrics)
#include "tst_remotelyrics.moc"
