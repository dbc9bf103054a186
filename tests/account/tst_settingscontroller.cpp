#include "AuthFixture.h"

#include "account/SettingsController.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

const QString kEndpoint = QStringLiteral("http://backend.test:9000");

enum class SessionState { signedOut, withEmail, withoutEmail };

} // namespace

Q_DECLARE_METATYPE(SessionState)

class TestSettingsController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The backend address is read once, on first use.
        qputenv("CANTORELLA_API_BASE_URL", kEndpoint.toUtf8());
    }

    void rows_data()
    {
        QTest::addColumn<SessionState>("state");
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("canSignOut");
        QTest::newRow("signed out") << SessionState::signedOut << QStringLiteral("未登录") << false;
        QTest::newRow("signed in") << SessionState::withEmail << QStringLiteral("ada@example.com") << true;
        QTest::newRow("session without an address") << SessionState::withoutEmail << QStringLiteral("未登录") << true;
    }

    void rows()
    {
        QFETCH(SessionState, state);
        QFETCH(QString, email);
        QFETCH(bool, canSignOut);
        AuthFixture fx;
        if (state != SessionState::signedOut) {
            AuthSession session = fx.issuedSession(QStringLiteral("ada@example.com"));
            if (state == SessionState::withoutEmail)
                session.email.reset();
            fx.store(session);
        }
        fx.start();
        SettingsController settings;
        settings.setAuth(fx.auth.get());

        QCOMPARE(settings.accountEmail(), email);
        QCOMPARE(settings.canSignOut(), canSignOut);
        QCOMPARE(settings.provider(), QStringLiteral("Cantorella Backend"));
        QCOMPARE(settings.endpoint(), kEndpoint);
    }

    void signOutClearsTheSessionAndTellsTheService()
    {
        AuthFixture fx;
        const AuthSession session = fx.issuedSession(QStringLiteral("ada@example.com"));
        fx.store(session);
        fx.start();
        SettingsController settings;
        settings.setAuth(fx.auth.get());
        QSignalSpy changed(&settings, &SettingsController::accountChanged);

        settings.signOut();
        QCOMPARE(changed.count(), 1); // at once, before the service answers
        QCOMPARE(settings.accountEmail(), QStringLiteral("未登录"));
        QVERIFY(!settings.canSignOut());
        QCOMPARE(fx.storedItem(), std::nullopt);
        QTRY_COMPARE(fx.server.count("/auth/v1/logout"), 1);
        QCOMPARE(fx.server.lastRequest("/auth/v1/logout").header("Authorization"),
                 std::optional<QByteArray>("Bearer " + session.accessToken.toUtf8()));
    }

    void followsSignInElsewhere()
    {
        AuthFixture fx;
        fx.server.auth().addUser(QStringLiteral("ada@example.com"), QStringLiteral("secret-1"));
        fx.start();
        SettingsController settings;
        settings.setAuth(fx.auth.get());
        QSignalSpy changed(&settings, &SettingsController::accountChanged);
        TaskRunner::run(fx.auth->signIn(QStringLiteral("ada@example.com"), QStringLiteral("secret-1")));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(settings.accountEmail(), QStringLiteral("ada@example.com"));
        QVERIFY(settings.canSignOut());
    }
};

QTEST_GUILESS_MAIN(TestSettingsController)
#include "tst_settingscontroller.moc"
