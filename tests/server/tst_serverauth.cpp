// The application's sign-in client against the real server: every answer of the sign-in service
// that a server can give, read by AuthService exactly as the program reads it.
#include "RawHttp.h"
#include "ServerClients.h"

#include "backend/RemoteBackupProvider.h"
#include "server/auth/ConfirmationPage.h"
#include "server/http/Message.h"
#include "server/store/StoreFactory.h"

#include <QtTest>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<AuthError>)

namespace {

template<class T>
std::optional<AuthError> authFailure(QCoro::Task<T> task)
{
    try {
        TaskRunner::run(std::move(task));
    } catch (const AuthError &error) {
        return error;
    }
    return std::nullopt;
}

// The confirmation link the server logged after `from` (log mode of the mailer).
QString lastLink(const QByteArray &log)
{
    static const QRegularExpression link(QStringLiteral(R"((http://\S+/auth/v1/verify\?\S+))"));
    QString found;
    auto matches = link.globalMatch(QString::fromUtf8(log));
    while (matches.hasNext())
        found = matches.next().captured(1);
    return found;
}

} // namespace

class TestServerAuth : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServerClients> clients;
    std::unique_ptr<ServerClients> confirming; // --require-confirmation

private slots:
    void initTestCase()
    {
        clients = std::make_unique<ServerClients>(QStringList{QStringLiteral("--signins-per-minute"), QStringLiteral("10000")});
        QCOMPARE(clients->start(), QString());
        confirming = std::make_unique<ServerClients>(QStringList{QStringLiteral("--require-confirmation"),
                                                                  QStringLiteral("--signins-per-minute"), QStringLiteral("10000")});
        QCOMPARE(confirming->start(), QString());
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            clients->server.printLogTail();
            confirming->server.printLogTail();
        }
    }

    void signUpAndSignIn_data()
    {
        QTest::addColumn<QString>("signUpAs");      // how the second device writes the address
        QTest::addColumn<QString>("password");
        QTest::addColumn<std::optional<AuthError>>("signInFailure");
        QTest::newRow("same address and password") << "%1" << "secret-1" << std::optional<AuthError>();
        QTest::newRow("address in capitals with spaces") << "  %1 \n" << "secret-1" << std::optional<AuthError>();
        QTest::newRow("wrong password") << "%1" << "secret-2" << std::optional(AuthError::invalidCredentials());
        QTest::newRow("password of six spaces is not trimmed") << "%1" << "      " << std::optional(AuthError::invalidCredentials());
        QTest::newRow("unknown address") << "other-%1" << "secret-1" << std::optional(AuthError::invalidCredentials());
    }

    void signUpAndSignIn()
    {
        QFETCH(QString, signUpAs);
        QFETCH(QString, password);
        QFETCH(std::optional<AuthError>, signInFailure);
        const QString email = ServerClients::uniqueEmail();
        QVERIFY(TaskRunner::run(clients->auth->signUp(email, QStringLiteral("secret-1"))));
        const QString userId = clients->auth->session()->userId;
        QCOMPARE(clients->auth->session()->email, email.toLower());

        QString address = signUpAs.arg(email);
        if (signUpAs.startsWith(u' '))
            address = signUpAs.arg(email.toUpper());
        AuthService &device = clients->newDevice();
        QCOMPARE(authFailure(device.signIn(address, password)), signInFailure);
        QCOMPARE(device.session().has_value(), !signInFailure);
        if (!signInFailure)
            QCOMPARE(device.session()->userId, userId);
    }

    void signUpTwiceIsRefused_data()
    {
        QTest::addColumn<QString>("again");
        QTest::newRow("same text") << "%1";
        QTest::newRow("capitals and spaces") << " %1 ";
    }

    void signUpTwiceIsRefused()
    {
        QFETCH(QString, again);
        const QString email = ServerClients::uniqueEmail();
        QVERIFY(TaskRunner::run(clients->newDevice().signUp(email, QStringLiteral("secret-1"))));
        QCOMPARE(authFailure(clients->newDevice().signUp(again.arg(email.toUpper()), QStringLiteral("secret-9"))),
                 std::optional(AuthError::emailExists()));
        // The first password still holds.
        QCOMPARE(authFailure(clients->newDevice().signIn(email, QStringLiteral("secret-1"))), std::optional<AuthError>());
    }

    // The application's client tells a key this server does not accept from a server that is down.
    void keyOfAnotherServerIsRefused()
    {
        AuthService &device = clients->newDevice(QStringLiteral("local-demo-anon-key"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("refused this program's key \\(HTTP 401\\)"));
        QCOMPARE(authFailure(device.signUp(ServerClients::uniqueEmail(), QStringLiteral("secret-1"))),
                 std::optional(AuthError::keyRefused(401)));
        clients->newDevice(); // with the server's key again, for the tests after this one
    }

    // Password sign-ins are limited per e-mail and per client address; with --trust-proxy the
    // client address is the last entry of X-Forwarded-For (the one the proxy appended: the
    // entries before it are whatever the client sent). The confirmation form's wrong passwords
    // count with them. Attempts sent all at once are counted before any password is checked: no
    // more than the limit are checked, and every other answer is 429, the right password's too.
    void tooManySignInsAnswer429_data()
    {
        QTest::addColumn<bool>("manyEmails");       // each attempt names another e-mail
        QTest::addColumn<QString>("forwardedFor");  // attempt %1's X-Forwarded-For, with --trust-proxy; empty: neither
        QTest::addColumn<bool>("viaForm");          // the first four: wrong passwords in the account's confirmation form
        QTest::addColumn<int>("together");          // this many attempts at once, the right password among them; 0: five in turn
        QTest::addColumn<bool>("refused");          // the fifth attempt, with 4 a minute allowed
        QTest::newRow("one client, one e-mail") << false << QString() << false << 0 << true;
        QTest::newRow("one client, many e-mails") << true << QString() << false << 0 << true;
        QTest::newRow("many clients, one e-mail") << false << "10.0.0.%1" << false << 0 << true;
        QTest::newRow("many clients, many e-mails") << true << "10.0.0.%1" << false << 0 << false;
        QTest::newRow("one client behind a proxy, first entries its own") << true << "198.51.100.%1, 10.0.0.7" << false << 0 << true;
        QTest::newRow("one client behind two proxies") << true << "198.51.100.%1, 203.0.113.%1, 10.0.0.7" << false << 0 << true;
        QTest::newRow("many clients behind two proxies") << true << "10.0.0.7, 203.0.113.9, 198.51.100.%1" << false << 0 << false;
        QTest::newRow("the form's, then another e-mail from its client") << true << QString() << true << 0 << true;
        QTest::newRow("the form's from many clients, then its e-mail") << false << "10.0.0.%1" << true << 0 << true;
        QTest::newRow("24 at once, one client") << false << QString() << false << 24 << true;
        QTest::newRow("24 at once, many clients, one e-mail") << false << "10.0.0.%1" << false << 24 << true;
    }

    void tooManySignInsAnswer429()
    {
        QFETCH(bool, manyEmails);
        QFETCH(QString, forwardedFor);
        QFETCH(bool, viaForm);
        QFETCH(int, together);
        QFETCH(bool, refused);
        QStringList arguments{QStringLiteral("--signins-per-minute"), QStringLiteral("4")};
        if (!forwardedFor.isEmpty())
            arguments << QStringLiteral("--trust-proxy");
        if (viaForm)
            arguments << QStringLiteral("--require-confirmation");
        // The limits count per minute of the clock: attempts that a new minute splits (a busy
        // machine spreads them out) are made again, on a fresh server.
        std::unique_ptr<ServerClients> limited;
        QString email;
        QList<int> statuses;
        std::optional<AuthError> failure; // of a sixth attempt through the application's client
        const bool throughClient = !manyEmails && forwardedFor.isEmpty() && !viaForm;
        const auto headers = [&](int attempt) {
            QList<std::pair<QByteArray, QByteArray>> headers{{"apikey", limited->server.anonKey().toUtf8()}};
            if (!forwardedFor.isEmpty())
                headers.append(std::pair<QByteArray, QByteArray>{"X-Forwarded-For", forwardedFor.arg(attempt).toUtf8()});
            return headers;
        };
        const auto body = [&](const QString &password) {
            return (R"({"email":")" + (manyEmails ? ServerClients::uniqueEmail() : email) + R"(","password":")" + password
                    + R"("})").toUtf8();
        };
        for (qint64 minute = -1; minute != QDateTime::currentSecsSinceEpoch() / 60;) {
            limited = std::make_unique<ServerClients>(arguments);
            QCOMPARE(limited->start(), QString());
            email = viaForm ? ServerClients::uniqueEmail() : limited->signUpNew(QStringLiteral("owner-1"));
            if (viaForm)
                QCOMPARE(TaskRunner::run(limited->auth->signUp(email, QStringLiteral("owner-1"))), false);
            const QString link = lastLink(limited->server.log());
            minute = QDateTime::currentSecsSinceEpoch() / 60;
            statuses.clear();
            if (together > 0) {
                QList<RawHttp::Post> posts;
                for (int attempt = 1; attempt <= together; ++attempt)
                    posts.append({quint16(limited->server.baseUrl().port()), "/auth/v1/token?grant_type=password", headers(attempt),
                                  body(attempt == together / 2 ? QStringLiteral("owner-1") : QStringLiteral("wrong-password"))});
                statuses = RawHttp::statusesOfPostsSentTogether(posts);
                continue;
            }
            for (int attempt = 1; attempt <= 5; ++attempt) {
                statuses << (viaForm && attempt < 5 ? limited->confirm(link, "wrong-password", headers(attempt))
                                                    : limited->send("POST", "/auth/v1/token?grant_type=password",
                                                                    body("wrong-password"), headers(attempt)))
                                .status;
            }
            if (throughClient)
                failure = authFailure(limited->newDevice().signIn(email, QStringLiteral("wrong-password")));
        }
        if (together > 0) {
            // At most the limit's number of passwords checked (400, or 200 for the right one).
            QCOMPARE(statuses.count(429), together - 4);
            QCOMPARE(statuses.count(400) + statuses.count(200), 4);
            QVERIFY(statuses.count(200) <= 1);
            return;
        }
        QCOMPARE(statuses, (QList<int>{400, 400, 400, 400, refused ? 429 : 400}));
        if (!throughClient)
            return;
        // The application tells the refusal from a wrong password.
        QCOMPARE(failure, std::optional(AuthError::server(429)));
        QCOMPARE(failure->errorDescription(), QStringLiteral("服务器暂时不可用（429）。"));
    }

    void confirmationByLink()
    {
        const QString email = ServerClients::uniqueEmail();
        AuthService &device = confirming->newDevice();
        QCOMPARE(TaskRunner::run(device.signUp(email, QStringLiteral("secret-1"))), false);
        QVERIFY(!device.session());
        QCOMPARE(authFailure(device.signIn(email, QStringLiteral("secret-1"))), std::optional(AuthError::notConfirmed()));
        // A wrong password does not reveal that the address waits for confirmation.
        QCOMPARE(authFailure(device.signIn(email, QStringLiteral("secret-2"))), std::optional(AuthError::invalidCredentials()));

        const QString first = lastLink(confirming->server.log());
        QVERIFY(TaskRunner::run(device.resendConfirmation(email)));
        const QString second = lastLink(confirming->server.log());
        QVERIFY(!second.isEmpty() && second != first);
        const QString path = second.mid(confirming->server.baseUrl().toString().size());
        QCOMPARE(confirming->send("GET", path).status, 200); // the form, as often as it is fetched
        QCOMPARE(confirming->confirm(second, QStringLiteral("secret-1")).status, 200);
        QCOMPARE(confirming->send("GET", path).status, 400); // used up
        QCOMPARE(authFailure(device.signIn(email, QStringLiteral("secret-1"))), std::optional<AuthError>());
        QVERIFY(device.session());
        QVERIFY(TaskRunner::run(device.resendConfirmation(ServerClients::uniqueEmail()))); // says nothing about accounts
    }

    // Someone signs up with another person's address before or after that person: the mails look
    // alike, and whichever the owner opens asks for the password, so what the owner enters
    // activates the owner's own sign-up. Fetching the link activates nothing (mail scanners do).
    void confirmationAsksForThePassword_data()
    {
        QTest::addColumn<bool>("attackerFirst");
        QTest::addColumn<bool>("resend");      // the owner asks for the mail again, after both sign-ups
        QTest::addColumn<int>("opened");       // the mail the owner opens: 0 the first, 1 the second, 2 the resent
        QTest::addColumn<QStringList>("entered"); // into the form, in order; the last one is the owner's
        QTest::newRow("the attacker's first mail") << true << false << 0 << QStringList{"owner-1"};
        QTest::newRow("the newest mail, the attacker's") << false << false << 1 << QStringList{"owner-1"};
        QTest::newRow("a resent mail, the attacker's sign-up the latest") << false << true << 2 << QStringList{"owner-1"};
        QTest::newRow("the owner's own mail") << true << false << 1 << QStringList{"owner-1"};
        QTest::newRow("a wrong password, then the owner's")
            << true << false << 0 << QStringList{"wrong-pass", "  owner-1", "owner-1"};
    }

    void confirmationAsksForThePassword()
    {
        QFETCH(bool, attackerFirst);
        QFETCH(bool, resend);
        QFETCH(int, opened);
        QFETCH(QStringList, entered);
        const QString email = ServerClients::uniqueEmail();
        QStringList links;
        for (const QString &who : attackerFirst ? QStringList{"attacker", "owner"} : QStringList{"owner", "attacker"}) {
            QCOMPARE(TaskRunner::run(confirming->newDevice().signUp(email, who + "-1")), false); // not "registered"
            links << lastLink(confirming->server.log());
        }
        if (resend) {
            QVERIFY(TaskRunner::run(confirming->newDevice().resendConfirmation(email)));
            links << lastLink(confirming->server.log());
        }
        QCOMPARE(QSet<QString>(links.begin(), links.end()).size(), links.size());
        const QString link = links.at(opened);
        const QString path = link.mid(confirming->server.baseUrl().toString().size());
        const auto signIn = [&](const QString &password) {
            return authFailure(confirming->newDevice().signIn(email, password));
        };

        const auto form = confirming->send("GET", path);
        QCOMPARE(form.status, 200);
        QVERIFY(form.body.contains("type=\"password\""));
        QVERIFY(signIn("owner-1")); // fetching it activated nothing
        for (const QString &password : entered) {
            const auto answer = confirming->confirm(link, password);
            const bool right = password == u"owner-1";
            QCOMPARE(answer.status, right ? 200 : 400);
            QCOMPARE(answer.body.contains(QStringLiteral("邮箱已确认").toUtf8()), right);
            // A wrong password: the form again, saying so, and nothing activated.
            QCOMPARE(answer.body.contains(QStringLiteral("密码不对").toUtf8()), !right);
            QCOMPARE(answer.body.contains("type=\"password\""), !right);
            if (!right)
                QVERIFY(signIn("owner-1"));
        }
        QCOMPARE(signIn("owner-1"), std::optional<AuthError>());
        QCOMPARE(signIn("attacker-1"), std::optional(AuthError::invalidCredentials()));
        // Every link of the address is void now, this one too.
        for (const QString &any : links) {
            QCOMPARE(confirming->send("GET", any.mid(confirming->server.baseUrl().toString().size())).status, 400);
            QCOMPARE(confirming->confirm(any, "owner-1").status, 400);
        }
        QCOMPARE(authFailure(confirming->newDevice().signUp(email, QStringLiteral("attacker-2"))),
                 std::optional(AuthError::emailExists()));
    }

    // The form's attempts count with the address's password sign-ins: past the limit 429, and
    // then not even the right password activates.
    void confirmationAttemptsAreLimited()
    {
        std::unique_ptr<ServerClients> limited;
        QList<int> statuses;
        // Attempts that a new minute splits are made again, on a fresh server.
        for (qint64 minute = -1; minute != QDateTime::currentSecsSinceEpoch() / 60;) {
            limited = std::make_unique<ServerClients>(
                QStringList{QStringLiteral("--require-confirmation"), QStringLiteral("--signins-per-minute"), QStringLiteral("2")});
            QCOMPARE(limited->start(), QString());
            const QString email = ServerClients::uniqueEmail();
            QCOMPARE(TaskRunner::run(limited->auth->signUp(email, QStringLiteral("owner-1"))), false);
            const QString link = lastLink(limited->server.log());
            minute = QDateTime::currentSecsSinceEpoch() / 60;
            statuses = {limited->confirm(link, "wrong-1").status, limited->confirm(link, "wrong-2").status,
                        limited->confirm(link, "owner-1").status,
                        limited->send("POST", "/auth/v1/token?grant_type=password",
                                      (R"({"email":")" + email + R"(","password":"owner-1"})").toUtf8(),
                                      {{"apikey", limited->server.anonKey().toUtf8()}})
                            .status};
        }
        QCOMPARE(statuses, (QList<int>{400, 400, 429, 429}));
    }

    // The form as browsers send it: '+' for a space, UTF-8 percent-encoded, fields in any order.
    void confirmationFormIsRead_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << QByteArray("token=abc&password=secret-1") << "abc" << "secret-1";
        QTest::newRow("spaces, plus, ampersand, equals")
            << QByteArray("token=abc&password=a+b%2Bc%26d%3De++") << "abc" << "a b+c&d=e  ";
        QTest::newRow("non-ASCII") << QByteArray("password=%E5%AF%86%E7%A0%81%C3%A4&token=x") << "x" << "密码ä";
        QTest::newRow("missing fields") << QByteArray("other=1") << "" << "";
    }

    void confirmationFormIsRead()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, token);
        QFETCH(QString, password);
        const auto answer = server::ConfirmationPage::read(body.toStdString());
        QCOMPARE(QString::fromStdString(answer.token), token);
        QCOMPARE(answer.password, password);
    }

    void confirmationPageEscapesWhatItShows()
    {
        server::http::Reply reply;
        server::ConfirmationPage::send(reply, 400, server::ConfirmationPage::Kind::WrongPassword, "\"><b>&'x");
        QVERIFY(reply.body.find("value=\"&quot;&gt;&lt;b&gt;&amp;'x\"") != std::string::npos);
        QVERIFY(reply.body.find("<b>") == std::string::npos);
        QVERIFY(reply.body.find("<script") == std::string::npos);
        QCOMPARE(reply.contentType, std::string("text/html; charset=utf-8"));
    }

    // A server started over rate windows that have ended deletes them within seconds, not a
    // whole --prune-minutes after its start.
    void endedRateWindowsArePrunedSoonAfterStart()
    {
        ServerClients started(QStringList{QStringLiteral("--prune-minutes"), QStringLiteral("60")});
        const auto store = server::openServerStore(started.server.databaseUrl(), started.server.dataFolder());
        for (const char *key : {"signin-address:192.0.2.1", "signup-address:192.0.2.1"})
            QCOMPARE(store->countHit(key, 60, 60), 1);
        QCOMPARE(started.start(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(store->hits("signin-address:192.0.2.1", 60) + store->hits("signup-address:192.0.2.1", 60),
                                  0, 30000);
    }

    void refreshRotatesAndReuseRevokes()
    {
        clients->signUpNew();
        AuthService &auth = *clients->auth;
        const AuthSession first = *auth.session();
        // Within the leeway of the expiry the client refreshes before it answers.
        clients->clock.setNow(QDateTime::fromSecsSinceEpoch(qint64(first.expiresAt) - 30, Qt::UTC));
        const std::optional<QString> header = TaskRunner::run(auth.authorizationHeader());
        clients->clock.setNow(QDateTime::currentDateTimeUtc());
        const AuthSession second = *auth.session();
        QVERIFY(second.refreshToken != first.refreshToken);
        QCOMPARE(header, QStringLiteral("Bearer ") + second.accessToken);
        QCOMPARE(clients->send("GET", "/api/backup?namespace=en", {}, {{"Authorization", clients->bearer()}}).status, 404);

        // The rotated token comes back: refused, and the whole sign-in ends.
        const QByteArray reuse = QByteArrayLiteral("{\"refresh_token\":\"") + first.refreshToken.toUtf8() + "\"}";
        const auto refused = clients->send("POST", "/auth/v1/token?grant_type=refresh_token", reuse,
                                           {{"apikey", clients->server.anonKey().toUtf8()}});
        QCOMPARE(refused.status, 400);
        QCOMPARE(clients->send("GET", "/api/backup?namespace=en", {}, {{"Authorization", clients->bearer()}}).status, 401);
        const QByteArray current = QByteArrayLiteral("{\"refresh_token\":\"") + second.refreshToken.toUtf8() + "\"}";
        QCOMPARE(clients->send("POST", "/auth/v1/token?grant_type=refresh_token", current,
                               {{"apikey", clients->server.anonKey().toUtf8()}}).status,
                 400);
    }

    // Refreshes of one sign-in past their hourly limit: 429, and the presented token stays
    // current (nothing rotated, the sign-in is not ended).
    void tooManyRefreshesAnswer429()
    {
        ServerClients limited(QStringList{QStringLiteral("--refreshes-per-hour"), QStringLiteral("2")});
        QCOMPARE(limited.start(), QString());
        limited.signUpNew();
        QString token = limited.auth->session()->refreshToken;
        const QList<std::pair<QByteArray, QByteArray>> apikey{{"apikey", limited.server.anonKey().toUtf8()}};
        const auto refresh = [&] {
            return limited.send("POST", "/auth/v1/token?grant_type=refresh_token",
                                QByteArrayLiteral("{\"refresh_token\":\"") + token.toUtf8() + "\"}", apikey);
        };
        for (int i = 0; i < 2; ++i) {
            const auto rotated = refresh();
            QCOMPARE(rotated.status, 200);
            token = QJsonDocument::fromJson(rotated.body)["refresh_token"].toString();
        }
        const auto refused = refresh();
        QCOMPARE(refused.status, 429);
        QCOMPARE(QJsonDocument::fromJson(refused.body)["error"].toString(), QStringLiteral("over_request_rate_limit"));
        QCOMPARE(refresh().status, 429); // not a reuse: the sign-in lives on
        QCOMPARE(limited.send("GET", "/api/backup?namespace=en", {}, {{"Authorization", limited.bearer()}}).status, 404);
    }

    void signOutEndsTheTokenAtOnce()
    {
        clients->signUpNew();
        const QByteArray oldBearer = clients->bearer();
        QCOMPARE(clients->send("GET", "/api/backup?namespace=en", {}, {{"Authorization", oldBearer}}).status, 404);
        TaskRunner::run(clients->auth->signOut());
        QVERIFY(!clients->auth->session());
        QCOMPARE(clients->send("GET", "/api/backup?namespace=en", {}, {{"Authorization", oldBearer}}).status, 401);
    }

    void expiredTokenIsRefused()
    {
        // Long enough for the first call to land inside it on a busy machine.
        constexpr int lifetimeMs = 5000;
        ServerClients shortLived(QStringList{QStringLiteral("--access-token-seconds"),
                                             QString::number(lifetimeMs / 1000)});
        QCOMPARE(shortLived.start(), QString());
        shortLived.signUpNew();
        RemoteBackupProvider backups(&shortLived.api, shortLived.server.baseUrl(), shortLived.auth.get());
        QCOMPARE(TaskRunner::run(backups.download()), std::optional<QByteArray>());
        // The token that call used: a token this short-lived is refreshed before each call, and
        // one refreshed in a later second than the sign-up ends that much later. It ends at a
        // whole second of the server's clock, counted from when the server issued it.
        const qint64 expiresAtMs = qint64(shortLived.auth->session()->expiresAt) * 1000;
        QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentMSecsSinceEpoch() > expiresAtMs + 500, lifetimeMs + 2000);
        const QByteArray stale = shortLived.bearer();
        QCOMPARE(shortLived.send("GET", "/api/backup?namespace=en", {}, {{"Authorization", stale}}).status, 401);
        // The client refreshes a session that expired and carries on.
        QCOMPARE(TaskRunner::run(backups.download()), std::optional<QByteArray>());
    }
};

QTEST_GUILESS_MAIN(TestServerAuth)
#include "tst_serverauth.moc"
