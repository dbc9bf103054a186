#include "AuthFixture.h"

#include "backend/RemoteAPIConfig.h"
#include "backend/SupabaseConfig.h"

#include <QtTest>

using namespace std::chrono_literals;
using Reply = HttpFake::Reply;

// Base addresses, URL building, the shared session and the request recipe.
class TestRemoteAPIConfig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Read once, on first use: set before anything asks.
        qputenv("CANTORELLA_API_BASE_URL", "http://127.0.0.1:9911/");
        qputenv("CANTORELLA_AUTH_BASE_URL", "http://127.0.0.1:9912");
        qputenv("CANTORELLA_AUTH_ANON_KEY", "env-anon-key");
    }

    void environmentOverridesTheCompiledAddresses()
    {
        QCOMPARE(RemoteAPIConfig::baseURL(), QUrl("http://127.0.0.1:9911/"));
        QCOMPARE(SupabaseConfig::standard().baseURL, QUrl("http://127.0.0.1:9912"));
        QCOMPARE(SupabaseConfig::standard().anonKey, QString("env-anon-key"));
        qputenv("CANTORELLA_API_BASE_URL", "http://127.0.0.1:1");
        QCOMPARE(RemoteAPIConfig::baseURL(), QUrl("http://127.0.0.1:9911/")); // kept for the process
    }

    void url_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<Http::QueryItems>("query");
        QTest::addColumn<QString>("expected");
        QTest::newRow("track") << RemoteAPIConfig::Path::track << Http::QueryItems{}
                               << "http://127.0.0.1:9911/api/track";
        QTest::newRow("backup") << RemoteAPIConfig::Path::backup << Http::QueryItems{{"namespace", "en"}}
                                << "http://127.0.0.1:9911/api/backup?namespace=en";
    }

    void url()
    {
        QFETCH(QString, path);
        QFETCH(Http::QueryItems, query);
        QFETCH(QString, expected);
        QCOMPARE(RemoteAPIConfig::url(path, query).toString(QUrl::FullyEncoded), expected);
        QCOMPARE(SupabaseConfig::standard().url("/auth/v1/token", {{"grant_type", "password"}}).toString(),
                 QString("http://127.0.0.1:9912/auth/v1/token?grant_type=password"));
    }

    // Every request through the shared session asks for JSON, even one that sets no headers.
    void sharedSessionAsksForJson()
    {
        HttpFake server;
        QVERIFY(server.listen());
        server.setReply("/api/backup", Reply::empty(404));
        Http::Request request;
        request.url = RemoteAPIConfig::url(server.baseUrl(), RemoteAPIConfig::Path::backup, {{"namespace", "en"}});
        const Http::Response response = TaskRunner::run(RemoteAPIConfig::sharedSession().send(request));
        QCOMPARE(response.status, std::optional<int>(404));
        QCOMPARE(server.lastRequest("/api/backup").header("Accept"), std::optional<QByteArray>("application/json"));
        QCOMPARE(RemoteAPIConfig::sharedSession().configuration().resourceTimeout,
                 std::optional<std::chrono::milliseconds>(90s));
    }

    void recipeSendsTheBearer()
    {
        AuthFixture fx;
        const AuthSession session = fx.issuedSession("ada@example.com");
        fx.store(session);
        AuthService &auth = fx.start();
        fx.server.requireIssuedBearer();
        fx.server.setReply("/api/story", Reply::json(200, QJsonObject{{"article", "x"}}));

        Http::Request request;
        request.method = "POST";
        request.url = RemoteAPIConfig::url(fx.server.baseUrl(), RemoteAPIConfig::Path::story);
        request.setHeader("Authorization", "Bearer stale"); // the recipe's value replaces it
        request.body = "{}";
        const Http::Response response = TaskRunner::run(RemoteAPIConfig::send(fx.http.get(), &auth, request));
        QCOMPARE(response.status, std::optional<int>(200));
        QCOMPARE(fx.server.lastRequest("/api/story").header("authorization"),
                 std::optional<QByteArray>("Bearer " + session.accessToken.toUtf8()));
    }

    void recipePassesFailuresThrough()
    {
        AuthFixture fx;
        AuthService &auth = fx.start();
        fx.server.setReply("/api/cards", Reply::neverAnswer());
        Http::Request request;
        request.url = RemoteAPIConfig::url(fx.server.baseUrl(), RemoteAPIConfig::Path::cards);
        request.timeout = 200ms;
        QVERIFY_THROWS_EXCEPTION(Http::TransportError, TaskRunner::run(RemoteAPIConfig::send(fx.http.get(), &auth, request)));

        CancellationToken token;
        auto outcome = TaskRunner::start(RemoteAPIConfig::send(fx.http.get(), &auth, request, token));
        token.cancel();
        QVERIFY(TaskRunner::waitUntilDone(outcome));
        QVERIFY_THROWS_EXCEPTION(CancelledError, outcome->take());
    }
};

QTEST_GUILESS_MAIN(TestRemoteAPIConfig)
#include "tst_remoteapiconfig.moc"
