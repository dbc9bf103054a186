#include "TaskRunner.h"

#include "backend/AuthSession.h"
#include "backend/KeychainStore.h"
#include "platform/StrictJson.h"

#include <QtTest>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<AuthSession>)

namespace {

const QString kService = QStringLiteral("com.cantorella.Cantorella.auth");
const QString kAccount = QStringLiteral("supabase-session");

AuthSession sessionFor(const QString &user, std::optional<QString> email = std::nullopt)
{
    return AuthSession{user, "access-" + user, "refresh-" + user, 1'700'003'600.5, email};
}

} // namespace

// The stored form of the session and the one item that holds it.
class TestKeychain : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        secrets = std::make_shared<InMemorySecretStore>();
        keychain.emplace(kService, kAccount, secrets);
    }

    void isExpired_data()
    {
        QTest::addColumn<double>("now");
        QTest::addColumn<bool>("expired");
        QTest::newRow("61 s before") << 939.0 << false;
        QTest::newRow("60 s before") << 940.0 << true;
        QTest::newRow("after") << 2000.0 << true;
    }

    void isExpired()
    {
        QFETCH(double, now);
        QFETCH(bool, expired);
        QCOMPARE(AuthSession({"u", "a", "r", 1000, std::nullopt}).isExpired(now, 60), expired);
    }

    void roundTrip_data()
    {
        QTest::addColumn<std::optional<QString>>("email");
        QTest::newRow("with e-mail") << std::optional<QString>("ada@example.com");
        QTest::newRow("without e-mail") << std::optional<QString>();
    }

    void roundTrip()
    {
        QFETCH(std::optional<QString>, email);
        const AuthSession session = sessionFor("u1", email);
        QVERIFY(TaskRunner::run(keychain->save(session)));

        const QJsonObject stored = StrictJson::parseObject(*secrets->item(kService, kAccount));
        QCOMPARE(stored.contains("email"), email.has_value()); // left out, never null
        QCOMPARE(stored.value("expiresAt").toDouble(), session.expiresAt);
        QCOMPARE(stored.size(), email ? 5 : 4);
        QCOMPARE(TaskRunner::run(keychain->load()), std::optional<AuthSession>(session));
    }

    void saveReplaces()
    {
        TaskRunner::run(keychain->save(sessionFor("u1")));
        TaskRunner::run(keychain->save(sessionFor("u2")));
        QCOMPARE(secrets->itemCount(), 1);
        QCOMPARE(TaskRunner::run(keychain->load()), std::optional<AuthSession>(sessionFor("u2")));
    }

    void unreadableItems_data()
    {
        QTest::addColumn<QByteArray>("item");
        QTest::newRow("none") << QByteArray();
        QTest::newRow("not json") << QByteArray("\x00\x01", 2);
        QTest::newRow("missing refresh token") << QByteArray(R"({"userId":"u","accessToken":"a","expiresAt":1})");
        QTest::newRow("expiry as text") << QByteArray(R"({"userId":"u","accessToken":"a","refreshToken":"r","expiresAt":"1"})");
        QTest::newRow("e-mail of the wrong type") << QByteArray(R"({"userId":"u","accessToken":"a","refreshToken":"r","expiresAt":1,"email":3})");
    }

    void unreadableItems()
    {
        QFETCH(QByteArray, item);
        if (!item.isEmpty())
            secrets->setItem(kService, kAccount, item);
        QCOMPARE(TaskRunner::run(keychain->load()), std::nullopt);
        if (!item.isEmpty())
            QCOMPARE(secrets->item(kService, kAccount), std::optional<QByteArray>(item)); // left in place
    }

    // A save that is still under way when a removal is asked for is applied first.
    void operationsApplyInOrder()
    {
        secrets->setDelay(150ms);
        keychain->save(sessionFor("u1"));
        secrets->setDelay(0ms);
        keychain->remove();
        TaskRunner::run(keychain->idle());
        QCOMPARE(secrets->item(kService, kAccount), std::nullopt);

        secrets->setDelay(100ms);
        keychain->remove();
        secrets->setDelay(0ms);
        keychain->save(sessionFor("u2"));
        TaskRunner::run(keychain->idle());
        QCOMPARE(TaskRunner::run(keychain->load()), std::optional<AuthSession>(sessionFor("u2")));
    }

    void failuresAreQuiet()
    {
        secrets->setFailure(SecretStore::Status::Unavailable);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Secret Service unavailable \\(write: unavailable\\)"));
        QCOMPARE(TaskRunner::run(keychain->save(sessionFor("u1"))), false);
        QCOMPARE(TaskRunner::run(keychain->load()), std::nullopt); // warned once only
        TaskRunner::run(keychain->remove());

        secrets->setFailure(SecretStore::Status::Denied);
        QTest::ignoreMessage(QtWarningMsg, "Secret Service write failed: denied");
        QTest::ignoreMessage(QtWarningMsg, "Secret Service delete failed: denied");
        QCOMPARE(TaskRunner::run(keychain->save(sessionFor("u1"))), false);

        // A refused save does not leave the previous session behind.
        secrets->setFailure(std::nullopt);
        QVERIFY(TaskRunner::run(keychain->save(sessionFor("u1"))));
        secrets->setWriteFailure(SecretStore::Status::Failed);
        QTest::ignoreMessage(QtWarningMsg, "Secret Service write failed: failed");
        QCOMPARE(TaskRunner::run(keychain->save(sessionFor("u2"))), false);
        QCOMPARE(secrets->item(kService, kAccount), std::nullopt);
    }

private:
    std::shared_ptr<InMemorySecretStore> secrets;
    std::optional<KeychainStore> keychain;
};

QTEST_GUILESS_MAIN(TestKeychain)
#include "tst_keychain.moc"
