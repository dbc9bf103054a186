#include "AuthFixture.h"
#include "JsonKeyOrder.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;
using Reply = HttpFake::Reply;

Q_DECLARE_METATYPE(HttpFake::Reply)
Q_DECLARE_METATYPE(std::optional<AuthError>)

namespace {

const QString kEmail = QStringLiteral("ada@example.com");
const QString kPassword = QStringLiteral("lovelace");

// The error a task ended with, or nothing when it succeeded.
template<class T>
std::optional<AuthError> errorOf(QCoro::Task<T> task)
{
    try {
        TaskRunner::run(std::move(task));
        return std::nullopt;
    } catch (const AuthError &error) {
        return error;
    }
}

QJsonObject tokenReply(const QString &accessToken = "at-1", const QString &refreshToken = "rt-1")
{
    return QJsonObject{{"access_token", accessToken},
                       {"refresh_token", refreshToken},
                       {"expires_in", 3600},
                       {"expires_at", 1'700'003'600},
                       {"token_type", "bearer"},
                       {"user", QJsonObject{{"id", "user-1"}, {"email", "ada@example.com"}}}};
}

} // namespace

class TestAuthService : public QObject
{
    Q_OBJECT

private slots:
    void init() { fx = std::make_unique<AuthFixture>(); }

    void messages_data()
    {
        QTest::addColumn<AuthError>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("server 500") << AuthError::server(500) << QStringLiteral("服务器暂时不可用（500）。");
        QTest::newRow("server 0") << AuthError::server(0) << QStringLiteral("服务器暂时不可用（0）。");
        QTest::newRow("validation") << AuthError::validation("x") << QStringLiteral("x");
        QTest::newRow("email exists") << AuthError::emailExists() << QStringLiteral("该邮箱已注册，请直接登录。");
        QTest::newRow("not confirmed") << AuthError::notConfirmed() << QStringLiteral("邮箱尚未验证，请查收确认邮件。");
        QTest::newRow("invalid credentials") << AuthError::invalidCredentials() << QStringLiteral("邮箱或密码错误。");
        QTest::newRow("network") << AuthError::network() << QStringLiteral("网络连接失败，请稍后再试。");
        QTest::newRow("key refused") << AuthError::keyRefused(401)
                                     << QStringLiteral("该服务器不接受本程序的访问（401），请联系服务器管理员。");
    }

    void messages()
    {
        QFETCH(AuthError, error);
        QFETCH(QString, message);
        QCOMPARE(error.errorDescription(), message);
    }

    // The e-mail is checked first, trimmed; the password untrimmed, in user-perceived characters.
    void validation_data()
    {
        const QString badEmail = QStringLiteral("请输入有效的邮箱地址。");
        const QString shortPassword = QStringLiteral("密码至少需要 6 位。");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message"); // empty: valid

        QTest::newRow("valid") << "ada@example.com" << "secret" << QString();
        QTest::newRow("surrounding blanks and newlines") << " \n ada@example.com\t\n" << "secret" << QString();
        QTest::newRow("three labels") << "ada@mail.example.co" << "secret" << QString();
        QTest::newRow("single label") << "ada@example" << "secret" << badEmail;
        QTest::newRow("space in local part") << "a da@example.com" << "secret" << badEmail;
        QTest::newRow("two at signs") << "a@b@example.com" << "secret" << badEmail;
        QTest::newRow("empty label") << "ada@example..com" << "secret" << badEmail;
        QTest::newRow("ideographic space inside") << QString("ada\u3000x@example.com") << "secret" << badEmail;
        QTest::newRow("empty") << "" << "secret" << badEmail;
        QTest::newRow("five characters") << "ada@example.com" << "12345" << shortPassword;
        QTest::newRow("six spaces") << "ada@example.com" << "      " << QString();
        QTest::newRow("five emoji families") << "ada@example.com"
                                             << QString("👨‍👩‍👧👨‍👩‍👧👨‍👩‍👧👨‍👩‍👧👨‍👩‍👧") << shortPassword;
        QTest::newRow("six combined letters") << "ada@example.com" << QString("e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301")
                                              << QString();
        QTest::newRow("both bad: e-mail first") << "nope" << "1" << badEmail;
    }

    void validation()
    {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(QString, message);
        AuthService &auth = fx->start();
        QSignalSpy busy(&auth, &AuthService::isBusyChanged);
        fx->server.auth().addUser(email.trimmed(), password);

        const std::optional<AuthError> error = errorOf(auth.signIn(email, password));
        if (message.isEmpty()) {
            QCOMPARE(error, std::nullopt);
            // Sent exactly as given, not trimmed.
            QCOMPARE(fx->server.lastRequest("/auth/v1/token").jsonObject().value("email").toString(), email);
        } else {
            QCOMPARE(error, std::optional<AuthError>(AuthError::validation(message)));
            QCOMPARE(fx->server.totalCount(), 0);
            QCOMPARE(busy.count(), 0);
        }
    }

    void signInSendsAndStores()
    {
        AuthService &auth = fx->start();
        QSignalSpy changed(&auth, &AuthService::sessionChanged);
        const QString id = fx->server.auth().addUser(kEmail, kPassword);

        TaskRunner::run(auth.signIn(kEmail, kPassword));

        QVERIFY(auth.session());
        QCOMPARE(auth.session()->userId, id);
        QCOMPARE(auth.currentEmail(), std::optional<QString>(kEmail));
        QCOMPARE(auth.session()->expiresAt, fx->now() + 3600);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(fx->storedSession(), auth.session());
        QVERIFY(!auth.isBusy());

        const HttpFake::Request sent = fx->server.lastRequest("/auth/v1/token");
        QCOMPARE(sent.method, QByteArray("POST"));
        QCOMPARE(sent.queryValue("grant_type"), QString("password"));
        QCOMPARE(sent.header("apikey"), std::optional<QByteArray>(AuthFixture::anonKey.toUtf8()));
        QCOMPARE(sent.header("Content-Type"), std::optional<QByteArray>("application/json"));
        QCOMPARE(sent.header("Authorization"), std::nullopt);
        QCOMPARE(sent.header("Accept"), std::nullopt);
        QCOMPARE(sent.jsonObject(), (QJsonObject{{"email", kEmail}, {"password", kPassword}}));
    }

    void signInFailures_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<AuthError>("expected");

        QTest::newRow("not confirmed, any case") << Reply::json(400, QJsonObject{{"error", "invalid_grant"},
                                                                                 {"error_description", "Email NOT Confirmed"}})
                                                 << AuthError::notConfirmed();
        QTest::newRow("confirm in msg") << Reply::json(403, QJsonObject{{"msg", "Please confirm your address"}})
                                        << AuthError::notConfirmed();
        QTest::newRow("400 empty body") << Reply::empty(400) << AuthError::invalidCredentials();
        QTest::newRow("400 not json") << Reply::text(400, "bad") << AuthError::invalidCredentials();
        QTest::newRow("invalid in message") << Reply::json(401, QJsonObject{{"message", "Invalid login credentials"}})
                                            << AuthError::invalidCredentials();
        QTest::newRow("500 empty body") << Reply::empty(500) << AuthError::server(500);
        QTest::newRow("429") << Reply::json(429, QJsonObject{{"msg", "too many requests"}}) << AuthError::server(429);
        QTest::newRow("200 without tokens") << Reply::json(200, QJsonObject{{"user", QJsonObject{{"id", "u"}}}})
                                            << AuthError::server(200);
        QTest::newRow("200 not json") << Reply::text(200, "<html>") << AuthError::server(200);
        QTest::newRow("connection closed") << Reply::closeWithoutAnswer() << AuthError::network();
        // A refused key is neither the password nor a server that is down.
        QTest::newRow("401 invalid API key") << Reply::json(401, QJsonObject{{"message", "Invalid API key"}})
                                             << AuthError::keyRefused(401);
        QTest::newRow("403 no API key") << Reply::json(403, QJsonObject{{"msg", "No API key found in request"}})
                                        << AuthError::keyRefused(403);
        QTest::newRow("500 naming the key") << Reply::json(500, QJsonObject{{"message", "apikey store down"}})
                                            << AuthError::server(500);
    }

    void signInFailures()
    {
        QFETCH(Reply, reply);
        QFETCH(AuthError, expected);
        fx->server.setReply("/auth/v1/token", reply);
        AuthService &auth = fx->start();
        if (expected.kind() == AuthError::Kind::keyRefused)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused this program's key"));
        QSignalSpy busy(&auth, &AuthService::isBusyChanged);

        QCOMPARE(errorOf(auth.signIn(kEmail, kPassword)), std::optional<AuthError>(expected));
        QVERIFY(!auth.session());
        QVERIFY(!fx->storedItem());
        QVERIFY(!auth.isBusy());
        QCOMPARE(busy.count(), 2); // on, then off
    }

    void signInRefusedPort()
    {
        auto http = std::make_shared<HttpSession>();
        AuthService auth(SupabaseConfig{HttpFake::refusedUrl(), "k"}, fx->keychain(), http, &fx->clock);
        QCOMPARE(errorOf(auth.signIn(kEmail, kPassword)), std::optional<AuthError>(AuthError::network()));
    }

    void busyWhileSigningIn()
    {
        fx->server.auth().addUser(kEmail, kPassword);
        fx->server.setHandler("/auth/v1/token", [this](const HttpFake::Request &request) {
            return fx->server.auth().handle(request)->withDelay(200ms);
        });
        AuthService &auth = fx->start();
        auto outcome = TaskRunner::start(auth.signIn(kEmail, kPassword));
        QVERIFY(auth.isBusy());
        QVERIFY(TaskRunner::waitUntilDone(outcome));
        outcome->take();
        QVERIFY(!auth.isBusy());
    }

    void signUp_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<std::optional<AuthError>>("error");
        QTest::addColumn<bool>("signedIn");

        QTest::newRow("200 with tokens") << Reply::json(200, tokenReply()) << std::optional<AuthError>() << true;
        QTest::newRow("201 with tokens") << Reply::json(201, tokenReply()) << std::optional<AuthError>() << true;
        QTest::newRow("201 user only") << Reply::json(201, QJsonObject{{"id", "u"}, {"email", "ada@example.com"}})
                                       << std::optional<AuthError>() << false;
        // Only a readable reply without tokens means "awaiting confirmation".
        QTest::newRow("200 garbage") << Reply::text(200, "garbage")
                                     << std::optional<AuthError>(AuthError::server(200)) << false;
        QTest::newRow("201 empty body") << Reply::empty(201) << std::optional<AuthError>(AuthError::server(201)) << false;
        QTest::newRow("200 array") << Reply::json(200, QJsonArray{}) << std::optional<AuthError>(AuthError::server(200))
                                   << false;
        QTest::newRow("200 token of the wrong type") << Reply::json(200, QJsonObject{{"access_token", 7}})
                                                     << std::optional<AuthError>(AuthError::server(200)) << false;
        QTest::newRow("422 any body") << Reply::empty(422) << std::optional<AuthError>(AuthError::emailExists()) << false;
        QTest::newRow("already, any case") << Reply::json(400, QJsonObject{{"msg", "User ALREADY exists"}})
                                           << std::optional<AuthError>(AuthError::emailExists()) << false;
        QTest::newRow("registered") << Reply::json(409, QJsonObject{{"error", "email registered"}})
                                    << std::optional<AuthError>(AuthError::emailExists()) << false;
        QTest::newRow("other 400") << Reply::json(400, QJsonObject{{"msg", "Signup is disabled"}})
                                   << std::optional<AuthError>(AuthError::server(400)) << false;
        QTest::newRow("500") << Reply::empty(500) << std::optional<AuthError>(AuthError::server(500)) << false;
        QTest::newRow("closed") << Reply::closeMidBody(200, "{\"access_token\":1}", 4)
                                << std::optional<AuthError>(AuthError::network()) << false;
    }

    void signUp()
    {
        QFETCH(Reply, reply);
        QFETCH(std::optional<AuthError>, error);
        QFETCH(bool, signedIn);
        fx->server.setReply("/auth/v1/signup", reply);
        AuthService &auth = fx->start();

        bool result = false;
        std::optional<AuthError> caught;
        try {
            result = TaskRunner::run(auth.signUp(kEmail, kPassword));
        } catch (const AuthError &e) {
            caught = e;
        }
        QCOMPARE(caught, error);
        QCOMPARE(result, signedIn);
        QCOMPARE(auth.isSignedIn(), signedIn);
        QCOMPARE(fx->storedItem().has_value(), signedIn);
        QVERIFY(!auth.isBusy());
        QCOMPARE(fx->server.lastRequest("/auth/v1/signup").jsonObject(),
                 (QJsonObject{{"email", kEmail}, {"password", kPassword}}));
    }

    // A key the service refuses fails sign-up and sign-in as such; the log names where the key
    // came from, never the key.
    void refusedKeyNamesItsSource()
    {
        SupabaseConfig config = fx->config();
        config.anonKey = QStringLiteral("key-of-another-server");
        config.anonKeySource = ConnectionSettings::Source::systemSettings;
        AuthService auth(config, fx->keychain(), fx->http, &fx->clock);
        const QRegularExpression line(QStringLiteral("^The sign-in service refused this program's key \\(HTTP 401\\); "
                                                     "the key came from the system settings \\([^)]*\\)$"));
        QTest::ignoreMessage(QtWarningMsg, line);
        QCOMPARE(errorOf(auth.signUp(kEmail, kPassword)), std::optional<AuthError>(AuthError::keyRefused(401)));
        QTest::ignoreMessage(QtWarningMsg, line);
        QCOMPARE(errorOf(auth.signIn(kEmail, kPassword)), std::optional<AuthError>(AuthError::keyRefused(401)));
        QVERIFY(!auth.isSignedIn());
    }

    // Against the stand-in: sign up, wait for confirmation, resend, confirm, sign in.
    void confirmationRoundTrip()
    {
        AuthService &auth = fx->start();
        QCOMPARE(TaskRunner::run(auth.signUp(kEmail, kPassword)), false);
        QCOMPARE(errorOf(auth.signIn(kEmail, kPassword)), std::optional<AuthError>(AuthError::notConfirmed()));
        QCOMPARE(errorOf(auth.signUp(kEmail, kPassword)), std::optional<AuthError>(AuthError::emailExists()));
        QCOMPARE(TaskRunner::run(auth.resendConfirmation(kEmail)), true);
        QCOMPARE(fx->server.auth().resendCount(kEmail), 1);
        QCOMPARE(fx->server.lastRequest("/auth/v1/resend").jsonObject(), (QJsonObject{{"type", "signup"}, {"email", kEmail}}));
        QCOMPARE(JsonKeyOrder::keys(fx->server.lastRequest("/auth/v1/resend").body), (QStringList{"type", "email"}));
        fx->server.auth().confirm(kEmail);
        QCOMPARE(errorOf(auth.signIn(kEmail, "wrong-password")), std::optional<AuthError>(AuthError::invalidCredentials()));
        TaskRunner::run(auth.signIn(kEmail, kPassword));
        QVERIFY(auth.isSignedIn());
    }

    void resendFailures_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::newRow("201 is not 200") << Reply::empty(201);
        QTest::newRow("429") << Reply::json(429, QJsonObject{{"msg", "rate limited"}});
        QTest::newRow("connection closed") << Reply::closeWithoutAnswer();
    }

    void resendFailures()
    {
        QFETCH(Reply, reply);
        fx->server.setReply("/auth/v1/resend", reply);
        AuthService &auth = fx->start();
        QSignalSpy busy(&auth, &AuthService::isBusyChanged);
        QCOMPARE(TaskRunner::run(auth.resendConfirmation("not an address")), false);
        QVERIFY(fx->server.count("/auth/v1/resend") >= 1); // sent without validation
        QCOMPARE(busy.count(), 0);
    }

    void signOut()
    {
        const AuthSession stored = fx->issuedSession(kEmail);
        fx->store(stored);
        AuthService &auth = fx->start();
        QCOMPARE(auth.session(), std::optional<AuthSession>(stored));

        auto outcome = TaskRunner::start(auth.signOut());
        QVERIFY(!auth.isSignedIn()); // cleared before the service is told
        QVERIFY(TaskRunner::waitUntilDone(outcome));
        QVERIFY(!fx->storedItem());
        const HttpFake::Request sent = fx->server.lastRequest("/auth/v1/logout");
        QCOMPARE(sent.header("Authorization"), std::optional<QByteArray>(("Bearer " + stored.accessToken).toUtf8()));
        QCOMPARE(sent.json, QJsonValue(QJsonObject{}));
        QVERIFY(!fx->server.auth().isValidAccessToken(stored.accessToken));
    }

    void signOutOffline()
    {
        const AuthSession stored = fx->issuedSession(kEmail);
        fx->store(stored);
        fx->server.setReply("/auth/v1/logout", Reply::closeWithoutAnswer());
        AuthService &auth = fx->start();
        TaskRunner::run(auth.signOut());
        QVERIFY(!auth.isSignedIn());
        QVERIFY(!fx->storedItem());
    }

    void signOutWhenSignedOutSendsNothing()
    {
        AuthService &auth = fx->start();
        TaskRunner::run(auth.signOut());
        QCOMPARE(fx->server.totalCount(), 0);
    }

    void decodeSession_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<std::optional<AuthSession>>("expected");
        const double now = 1'700'000'000;
        const auto session = [](double expiresAt, std::optional<QString> email) {
            return std::optional<AuthSession>(AuthSession{"u1", "at", "rt", expiresAt, email});
        };

        QTest::newRow("expires_at wins") << QByteArray(R"({"access_token":"at","refresh_token":"rt","expires_at":1700000500,"expires_in":10,"user":{"id":"u1","email":"a@b.cd"}})")
                                         << session(1'700'000'500, "a@b.cd");
        QTest::newRow("expires_in") << QByteArray(R"({"access_token":"at","refresh_token":"rt","expires_in":120,"user":{"id":"u1"}})")
                                    << session(now + 120, std::nullopt);
        QTest::newRow("neither") << QByteArray(R"({"access_token":"at","refresh_token":"rt","user":{"id":"u1","email":null}})")
                                 << session(now + 3600, std::nullopt);
        QTest::newRow("no refresh token") << QByteArray(R"({"access_token":"at","user":{"id":"u1"}})")
                                          << std::optional<AuthSession>();
        QTest::newRow("no user id") << QByteArray(R"({"access_token":"at","refresh_token":"rt","user":{"email":"a@b.cd"}})")
                                    << std::optional<AuthSession>();
        QTest::newRow("token of the wrong type") << QByteArray(R"({"access_token":7,"refresh_token":"rt","user":{"id":"u1"}})")
                                                 << std::optional<AuthSession>();
        QTest::newRow("array") << QByteArray("[]") << std::optional<AuthSession>();
    }

    void decodeSession()
    {
        QFETCH(QByteArray, body);
        QFETCH(std::optional<AuthSession>, expected);
        QCOMPARE(AuthService::decodeSession(body, 1'700'000'000), expected);
    }

private:
    std::unique_ptr<AuthFixture> fx;
};

QTEST_GUILESS_MAIN(TestAuthService)
#include "tst_authservice.moc"
