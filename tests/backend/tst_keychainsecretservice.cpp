#include "TaskRunner.h"

#include "backend/KeychainStore.h"

#include <QCoreApplication>
#include <QtTest>

using namespace std::chrono_literals;

// The session item through QtKeychain and the desktop's Secret Service. scripts/test.sh runs
// the suite on a private session bus with an unlocked gnome-keyring; without a secret service
// on the bus the test is skipped.
class TestKeychainSecretService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("no session bus");
        secrets = std::make_shared<KeychainSecretStore>(5s);
        // A service name of this run's own, so that nothing else's items are touched.
        service = QStringLiteral("com.cantorella.Cantorella.test-%1").arg(QCoreApplication::applicationPid());
        const SecretStore::Status probe = TaskRunner::run(secrets->write(service, "probe", "x"), 10s);
        if (probe == SecretStore::Status::Unavailable || probe == SecretStore::Status::TimedOut)
            QSKIP("no secret service answers on the session bus");
        QCOMPARE(probe, SecretStore::Status::Ok);
        QCOMPARE(TaskRunner::run(secrets->remove(service, "probe"), 10s), SecretStore::Status::Ok);
    }

    void storesReadsAndDeletes()
    {
        KeychainStore keychain(service, "supabase-session", secrets);
        const AuthSession first{"u1", "access-1", "refresh-1", 1'700'003'600, QStringLiteral("ada@example.com")};
        const AuthSession second{"u2", "access-2", "refresh-2", 1'700'007'200, std::nullopt};

        QCOMPARE(TaskRunner::run(keychain.load(), 10s), std::nullopt);
        QVERIFY(TaskRunner::run(keychain.save(first), 10s));
        QCOMPARE(TaskRunner::run(keychain.load(), 10s), std::optional<AuthSession>(first));
        QVERIFY(TaskRunner::run(keychain.save(second), 10s));
        QCOMPARE(TaskRunner::run(keychain.load(), 10s), std::optional<AuthSession>(second));

        // A second store object on the same item sees the same data.
        KeychainStore other(service, "supabase-session", std::make_shared<KeychainSecretStore>(5s));
        QCOMPARE(TaskRunner::run(other.load(), 10s), std::optional<AuthSession>(second));

        TaskRunner::run(keychain.remove(), 10s);
        QCOMPARE(TaskRunner::run(keychain.load(), 10s), std::nullopt);
        QCOMPARE(TaskRunner::run(secrets->read(service, "supabase-session"), 10s).status, SecretStore::Status::NotFound);
    }

private:
    std::shared_ptr<KeychainSecretStore> secrets;
    QString service;
};

QTEST_GUILESS_MAIN(TestKeychainSecretService)
#include "tst_keychainsecretservice.moc"
