#include "AuthFixture.h"

#include "backend/RemoteAPIConfig.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;
using Reply = HttpFake::Reply;

Q_DECLARE_METATYPE(HttpFake::Reply)

namespace {

const QString kAda = QStringLiteral("ada@example.com");
const QString kGrace = QStringLiteral("grace@example.com");
const QString kPassword = QStringLiteral("secret-1");
const QString kRefreshKey = QStringLiteral("/auth/v1/token?grant_type=refresh_token");

QString bearer(const AuthSession &session)
{
    return "Bearer " + session.accessToken;
}

} // namespace

// Start-up load, the shared refresh, and what a backend 401 does.
class TestAuthRefresh : public QObject
{
    Q_OBJECT

private slots:
    void init() { fx = std::make_unique<AuthFixture>(); }

    void startUpLoad_data()
    {
        QTest::addColumn<QByteArray>("item"); // empty: no item
        QTest::addColumn<bool>("signedIn");
        const AuthSession session{"u1", "at", "rt", 1'700'003'600, std::nullopt};
        QTest::newRow("stored session") << session.toJson() << true;
        QTest::newRow("no item") << QByteArray() << false;
        QTest::newRow("not json") << QByteArray("garbage") << false;
        QTest::newRow("missing key") << QByteArray(R"({"userId":"u1","accessToken":"at","expiresAt":1})") << false;
    }

    void startUpLoad()
    {
        QFETCH(QByteArray, item);
        QFETCH(bool, signedIn);
        if (!item.isEmpty())
            fx->secrets->setItem("com.cantorella.Cantorella.auth", "supabase-session", item);
        AuthService &auth = fx->start();
        QVERIFY(auth.hasLoadedStoredSession());
        QCOMPARE(auth.isSignedIn(), signedIn);
        if (!item.isEmpty())
            QCOMPARE(fx->storedItem(), std::optional<QByteArray>(item)); // a bad item stays
    }

    void startUpWithoutSecretService()
    {
        fx->store(fx->issuedSession(kAda));
        fx->secrets->setFailure(SecretStore::Status::Unavailable);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Secret Service unavailable .*in memory for this run only"));
        AuthService &auth = fx->start();
        QVERIFY(!auth.isSignedIn());

        // Signing in still works; the session lives in memory.
        TaskRunner::run(auth.signIn(kAda, kPassword));
        QVERIFY(auth.isSignedIn());
    }

    // A sign-in that finishes while the stored session is still loading is not overwritten.
    void loadFinishingAfterSignInWritesNothing()
    {
        const AuthSession old = fx->issuedSession(kGrace);
        fx->store(old);
        fx->server.auth().addUser(kAda, kPassword);
        fx->secrets->setDelay(300ms);
        fx->auth = std::make_unique<AuthService>(fx->config(), fx->keychain(), fx->http, &fx->clock);
        AuthService &auth = *fx->auth;

        TaskRunner::run(auth.signIn(kAda, kPassword));
        QVERIFY(!auth.hasLoadedStoredSession());
        TaskRunner::run(auth.waitForStoredSession());
        QCOMPARE(auth.currentEmail(), std::optional<QString>(kAda));
        QTRY_COMPARE(fx->storedSession()->email, std::optional<QString>(kAda));
    }

    void authorizationHeader_data()
    {
        QTest::addColumn<qint64>("expiresIn");
        QTest::addColumn<bool>("refreshes");
        QTest::newRow("an hour left") << qint64(3600) << false;
        QTest::newRow("61 s left") << qint64(61) << false;
        QTest::newRow("exactly 60 s left") << qint64(60) << true;
        QTest::newRow("30 s left") << qint64(30) << true;
        QTest::newRow("already expired") << qint64(-10) << true;
    }

    void authorizationHeader()
    {
        QFETCH(qint64, expiresIn);
        QFETCH(bool, refreshes);
        const AuthSession stored = fx->issuedSession(kAda, expiresIn);
        fx->store(stored);
        AuthService &auth = fx->start();

        const std::optional<QString> header = TaskRunner::run(auth.authorizationHeader());
        QCOMPARE(fx->server.count("/auth/v1/token"), refreshes ? 1 : 0);
        QVERIFY(auth.session());
        QCOMPARE(header, std::optional<QString>(bearer(*auth.session())));
        QCOMPARE(auth.session()->accessToken != stored.accessToken, refreshes);
        QCOMPARE(fx->storedSession(), auth.session());
        if (refreshes)
            QCOMPARE(fx->server.lastRequest("/auth/v1/token").jsonObject(),
                     (QJsonObject{{"refresh_token", stored.refreshToken}}));
    }

    void signedOutHasNoHeader()
    {
        AuthService &auth = fx->start();
        QCOMPARE(TaskRunner::run(auth.authorizationHeader()), std::nullopt);
    }

    void concurrentCallersShareOneRefresh()
    {
        fx->store(fx->issuedSession(kAda, 30));
        delayRefreshReplies(200ms);
        AuthService &auth = fx->start();
        QSignalSpy changed(&auth, &AuthService::sessionChanged);

        auto first = TaskRunner::start(auth.authorizationHeader());
        auto second = TaskRunner::start(auth.authorizationHeader());
        QVERIFY(TaskRunner::waitUntilDone(first));
        QVERIFY(TaskRunner::waitUntilDone(second));

        QCOMPARE(fx->server.count("/auth/v1/token"), 1);
        const std::optional<QString> header = first->take();
        QCOMPARE(header, std::optional<QString>(bearer(*auth.session())));
        const std::optional<QString> other = second->take();
        QCOMPARE(other, header);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(fx->storedSession(), auth.session());

        // Once it is over, a later expiry starts a new refresh.
        fx->clock.advance(3600s);
        TaskRunner::run(auth.authorizationHeader());
        QCOMPARE(fx->server.count("/auth/v1/token"), 2);
    }

    void failedRefreshSendsTheStaleToken_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::newRow("500") << Reply::empty(500);
        QTest::newRow("refresh token refused") << Reply::json(400, QJsonObject{{"error", "invalid_grant"}});
        QTest::newRow("200 without tokens") << Reply::json(200, QJsonObject{{"user", QJsonObject{{"id", "u"}}}});
        QTest::newRow("connection closed") << Reply::closeWithoutAnswer();
    }

    void failedRefreshSendsTheStaleToken()
    {
        QFETCH(Reply, reply);
        const AuthSession stored = fx->issuedSession(kAda, 30);
        fx->store(stored);
        fx->server.setReply(kRefreshKey, reply);
        AuthService &auth = fx->start();

        QTest::ignoreMessage(QtWarningMsg, "Token refresh failed — session may be expired");
        QCOMPARE(TaskRunner::run(auth.authorizationHeader()), std::optional<QString>(bearer(stored)));
        QCOMPARE(auth.session(), std::optional<AuthSession>(stored));
        QCOMPARE(fx->storedSession(), std::optional<AuthSession>(stored));
    }

    void unauthorizedClearsTheSession()
    {
        const AuthSession stored = fx->issuedSession(kAda);
        fx->store(stored);
        fx->server.setReply("/api/track", Reply::json(401, QJsonObject{{"error", "unauthorized"}}));
        AuthService &auth = fx->start();
        QSignalSpy changed(&auth, &AuthService::sessionChanged);

        const Http::Response response = TaskRunner::run(RemoteAPIConfig::send(fx->http.get(), &auth, trackRequest()));
        QCOMPARE(response.status, std::optional<int>(401));
        QCOMPARE(fx->server.lastRequest("/api/track").header("Authorization"),
                 std::optional<QByteArray>(bearer(stored).toUtf8()));
        QVERIFY(!auth.isSignedIn());
        QVERIFY(!fx->storedItem());
        QCOMPARE(changed.count(), 1);

        // Signed out, the request goes without the header, and its 401 changes nothing.
        TaskRunner::run(RemoteAPIConfig::send(fx->http.get(), &auth, trackRequest()));
        QCOMPARE(fx->server.lastRequest("/api/track").header("Authorization"), std::nullopt);
        QCOMPARE(changed.count(), 1);
    }

    // A 401 for a token that was refreshed while the request was under way keeps the new session.
    void lateUnauthorizedForARefreshedToken()
    {
        fx->store(fx->issuedSession(kAda, 3600));
        fx->server.setReply("/api/track", Reply::json(401, QJsonObject{}).withDelay(300ms));
        AuthService &auth = fx->start();

        auto request = TaskRunner::start(RemoteAPIConfig::send(fx->http.get(), &auth, trackRequest()));
        QTRY_COMPARE(fx->server.count("/api/track"), 1);
        fx->clock.advance(3590s);
        TaskRunner::run(auth.authorizationHeader()); // refreshes
        const std::optional<AuthSession> refreshed = auth.session();
        QVERIFY(TaskRunner::waitUntilDone(request));
        QCOMPARE(request->take().status, std::optional<int>(401));

        QCOMPARE(auth.session(), refreshed);
        QCOMPARE(fx->storedSession(), refreshed);
    }

    // A 401 for the previous user's request leaves the user who signed in since then alone.
    void lateUnauthorizedAfterAnotherSignIn()
    {
        fx->store(fx->issuedSession(kGrace));
        fx->server.auth().addUser(kAda, kPassword);
        fx->server.setReply("/api/track", Reply::json(401, QJsonObject{}).withDelay(300ms));
        AuthService &auth = fx->start();

        auto request = TaskRunner::start(RemoteAPIConfig::send(fx->http.get(), &auth, trackRequest()));
        QTRY_COMPARE(fx->server.count("/api/track"), 1);
        TaskRunner::run(auth.signOut());
        TaskRunner::run(auth.signIn(kAda, kPassword));
        QVERIFY(TaskRunner::waitUntilDone(request));

        QCOMPARE(auth.currentEmail(), std::optional<QString>(kAda));
        QCOMPARE(fx->storedSession(), auth.session());
    }

    void unauthorizedWhileSignedOut()
    {
        AuthService &auth = fx->start();
        auth.handleUnauthorized(QStringLiteral("Bearer whatever"));
        auth.handleUnauthorized(std::nullopt);
        QVERIFY(!auth.isSignedIn());
    }

    // A refresh that ends after the session it refreshed was replaced or cleared writes nothing.
    void refreshEndingLateWritesNothing_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("sign-out") << "sign-out";
        QTest::newRow("401") << "401";
        QTest::newRow("another sign-in") << "sign-in";
    }

    void refreshEndingLateWritesNothing()
    {
        QFETCH(QString, meanwhile);
        const AuthSession stored = fx->issuedSession(kGrace, 30);
        fx->store(stored);
        fx->server.auth().addUser(kAda, kPassword);
        delayRefreshReplies(300ms);
        AuthService &auth = fx->start();

        auto header = TaskRunner::start(auth.authorizationHeader());
        QTRY_COMPARE(fx->server.count("/auth/v1/token"), 1);
        if (meanwhile == "sign-out")
            TaskRunner::run(auth.signOut());
        else if (meanwhile == "401")
            auth.handleUnauthorized(bearer(stored));
        else
            TaskRunner::run(auth.signIn(kAda, kPassword));
        const std::optional<AuthSession> after = auth.session();

        QVERIFY(TaskRunner::waitUntilDone(header));
        header->take();
        QCOMPARE(auth.session(), after);
        QCOMPARE(fx->storedSession(), after);
    }

    // A refresh still running for the previous user is not joined: the new user's header comes
    // from a refresh of the new user's own session.
    void newUserDoesNotJoinTheOldUsersRefresh()
    {
        fx->store(fx->issuedSession(kGrace, 30));
        fx->server.auth().addUser(kAda, kPassword);
        delayRefreshReplies(300ms);
        AuthService &auth = fx->start();

        auto graceHeader = TaskRunner::start(auth.authorizationHeader());
        QTRY_COMPARE(refreshRequests().size(), 1);
        fx->server.auth().setExpiresIn(30);
        TaskRunner::run(auth.signIn(kAda, kPassword));
        const AuthSession ada = *auth.session();

        const std::optional<QString> adaHeader = TaskRunner::run(auth.authorizationHeader());
        QVERIFY(TaskRunner::waitUntilDone(graceHeader));
        graceHeader->take();

        const QList<HttpFake::Request> refreshes = refreshRequests();
        QCOMPARE(refreshes.size(), 2);
        QCOMPARE(refreshes.last().jsonObject().value("refresh_token").toString(), ada.refreshToken);
        QCOMPARE(auth.session()->userId, ada.userId);
        QVERIFY(auth.session()->accessToken != ada.accessToken);
        QCOMPARE(adaHeader, std::optional<QString>(bearer(*auth.session())));
    }

private:
    QList<HttpFake::Request> refreshRequests() const
    {
        QList<HttpFake::Request> refreshes = fx->server.requests("/auth/v1/token");
        refreshes.removeIf([](const HttpFake::Request &r) { return r.queryValue("grant_type") != "refresh_token"; });
        return refreshes;
    }

    // The stand-in's refresh answers, each given `delay` later.
    void delayRefreshReplies(std::chrono::milliseconds delay)
    {
        fx->server.setHandler(kRefreshKey, [this, delay](const HttpFake::Request &request) {
            return fx->server.auth().handle(request)->withDelay(delay);
        });
    }

    Http::Request trackRequest() const
    {
        Http::Request request;
        request.method = "POST";
        request.url = Http::urlByAppending(fx->server.baseUrl(), RemoteAPIConfig::Path::track);
        request.setHeader("Content-Type", "application/json");
        request.body = "{}";
        return request;
    }

    std::unique_ptr<AuthFixture> fx;
};

QTEST_GUILESS_MAIN(TestAuthRefresh)
#include "tst_authrefresh.moc"
