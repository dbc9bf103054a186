// The server's settings: flag over variable over file, refused values, and secrets only from
// the environment or private files.
#include "server/config/Secrets.h"
#include "server/config/ServerConfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using server::ConfigError;
using server::ServerConfig;

namespace {

void writeFile(const QString &path, const QByteArray &text, QFileDevice::Permissions permissions)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    QVERIFY(file.setPermissions(permissions));
}

} // namespace

class TestServerConfig : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void cleanup()
    {
        for (const char *name : {"CANTORELLA_SERVER_LISTEN", "CANTORELLA_SERVER_THREADS", "CANTORELLA_ANON_KEY",
                                 "CANTORELLA_ANON_KEY_FILE", "CANTORELLA_JWT_KEY", "CANTORELLA_SERVER_CONFIG"})
            qunsetenv(name);
    }

    void precedence_data()
    {
        QTest::addColumn<QByteArray>("file");        // INI text, or empty for none
        QTest::addColumn<QByteArray>("variable");    // CANTORELLA_SERVER_LISTEN, or empty
        QTest::addColumn<QStringList>("flags");
        QTest::addColumn<QString>("listen");

        QTest::newRow("default") << QByteArray() << QByteArray() << QStringList() << "127.0.0.1:8787";
        QTest::newRow("file") << QByteArray("# comment\n[server]\nlisten = 0.0.0.0:9000\n") << QByteArray() << QStringList()
                              << "0.0.0.0:9000";
        QTest::newRow("variable over file") << QByteArray("listen = 0.0.0.0:9000\n") << QByteArray("127.0.0.1:9001")
                                            << QStringList() << "127.0.0.1:9001";
        QTest::newRow("flag over variable") << QByteArray("listen = 0.0.0.0:9000\n") << QByteArray("127.0.0.1:9001")
                                            << QStringList{"--listen", "127.0.0.1:0"} << "127.0.0.1:0";
        QTest::newRow("flag with =") << QByteArray() << QByteArray() << QStringList{"--listen=[::1]:8080"} << "::1:8080";
    }

    void precedence()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, variable);
        QFETCH(QStringList, flags);
        QFETCH(QString, listen);
        QStringList arguments = flags;
        if (!file.isEmpty()) {
            const QString path = dir.filePath(QStringLiteral("server.ini"));
            writeFile(path, file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            arguments << QStringLiteral("--config") << path;
        }
        if (!variable.isEmpty())
            qputenv("CANTORELLA_SERVER_LISTEN", variable);
        QCOMPARE(ServerConfig::load(arguments).listenAddress(), listen);
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("port out of range") << QStringList{"--listen", "127.0.0.1:70000"} << "listen needs a whole number";
        QTest::newRow("no port") << QStringList{"--listen", "localhost"} << "listen needs ADDRESS:PORT";
        QTest::newRow("unknown flag") << QStringList{"--password", "x"} << "unknown option --password";
        QTest::newRow("secret as a flag") << QStringList{"--anon-key", "x"} << "unknown option --anon-key";
        QTest::newRow("no threads") << QStringList{"--threads", "0"} << "threads needs a whole number";
        QTest::newRow("no connection per address") << QStringList{"--max-connections-per-address", "0"}
                                                   << "max-connections-per-address needs a whole number";
        QTest::newRow("not a switch value") << QStringList{"--require-confirmation=maybe"} << "needs true or false";
        QTest::newRow("other database") << QStringList{"--database", "mysql://x"} << "postgresql://";
        QTest::newRow("SMTP without sender") << QStringList{"--smtp-url", "smtp://mail:25"} << "smtp-from";
        QTest::newRow("missing value") << QStringList{"--data"} << "--data needs a value";
        QTest::newRow("missing file") << QStringList{"--config", "/nonexistent/server.ini"} << "cannot read";
    }

    void refused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        try {
            ServerConfig::load(arguments);
            QFAIL("accepted");
        } catch (const ConfigError &error) {
            QVERIFY2(QString::fromUtf8(error.what()).contains(message), error.what());
        }
    }

    void helpNamesEveryKeyAndSecret()
    {
        const QString help = ServerConfig::helpText();
        for (const char *text : {"--listen", "CANTORELLA_SERVER_LISTEN", "--data", "--database", "--seed",
                                 "--require-confirmation", "--smtp-url", "--smtp-from", "--threads", "--max-backup-bytes",
                                 "CANTORELLA_ANON_KEY", "CANTORELLA_JWT_KEY", "CANTORELLA_SMTP_PASSWORD",
                                 "--backup-namespaces", "--max-account-backup-bytes", "--max-spool-bytes", "--max-account-spool-bytes",
                                 "--write-queue", "--write-wait-ms",
                                 "--refreshes-per-hour", "--prune-minutes", "--max-connections-per-address"})
            QVERIFY2(help.contains(QLatin1String(text)), text);
    }

    void keysAreGeneratedOnceAndPrivate()
    {
        const QString data = dir.filePath(QStringLiteral("generated"));
        const server::Secrets first = server::Secrets::load(data);
        const server::Secrets second = server::Secrets::load(data);
        QCOMPARE(second.anonKey, first.anonKey);
        QCOMPARE(second.tokenKey, first.tokenKey);
        QVERIFY(first.anonKey != first.tokenKey && first.tokenKey.size() >= 32);
        for (const char *name : {"anon-key", "token-key"})
            QCOMPARE(QFile::permissions(QDir(data).filePath(QLatin1String(name))) & 0x0777, // user, group, other
                     QFileDevice::ReadUser | QFileDevice::WriteUser);
        qputenv("CANTORELLA_ANON_KEY", "from-the-environment");
        QCOMPARE(server::Secrets::load(data).anonKey, std::string("from-the-environment"));
    }

    void secretFileReadableByOthersIsRefused_data()
    {
        QTest::addColumn<bool>("ownerOnly");
        QTest::newRow("0600") << true;
        QTest::newRow("0644") << false;
    }

    void secretFileReadableByOthersIsRefused()
    {
        QFETCH(bool, ownerOnly);
        const QString path = dir.filePath(QStringLiteral("anon-%1").arg(ownerOnly));
        writeFile(path, "file-key\n", ownerOnly ? QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                              : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        qputenv("CANTORELLA_ANON_KEY_FILE", path.toUtf8());
        try {
            QCOMPARE(server::Secrets::load(dir.filePath(QStringLiteral("data"))).anonKey, std::string("file-key"));
            QVERIFY(ownerOnly);
        } catch (const ConfigError &error) {
            QVERIFY2(!ownerOnly && QString::fromUtf8(error.what()).contains(QLatin1String("chmod 600")), error.what());
        }
    }

    // A secret's variable set to nothing is a slip, not "unset": the server names it and stops.
    void emptySecretIsRefused_data()
    {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<bool>("shared");
        QTest::newRow("token key") << QByteArray("CANTORELLA_JWT_KEY") << false;
        QTest::newRow("token key, shared database") << QByteArray("CANTORELLA_JWT_KEY") << true;
        QTest::newRow("anonymous key's file") << QByteArray("CANTORELLA_ANON_KEY_FILE") << false;
        QTest::newRow("SMTP password") << QByteArray("CANTORELLA_SMTP_PASSWORD") << false;
        QTest::newRow("language model key") << QByteArray("CANTORELLA_LLM_KEY") << false;
    }

    void emptySecretIsRefused()
    {
        QFETCH(QByteArray, variable);
        QFETCH(bool, shared);
        qputenv(variable.constData(), QByteArray());
        QString message;
        try {
            server::Secrets::load(dir.filePath(QStringLiteral("empty")), shared);
        } catch (const ConfigError &error) {
            message = QString::fromUtf8(error.what());
        }
        qunsetenv(variable.constData());
        QVERIFY2(message.contains(QString::fromLatin1(variable + " is set but empty")), qPrintable(message));
    }

    // Processes on one PostgreSQL must share their keys: none is generated, a missing one is named.
    void sharedDatabaseNeedsBothKeys_data()
    {
        QTest::addColumn<QStringList>("given"); // variables set (a _FILE one names a private file)
        QTest::addColumn<QStringList>("missing");
        QTest::newRow("neither") << QStringList() << QStringList{"CANTORELLA_ANON_KEY", "CANTORELLA_JWT_KEY"};
        QTest::newRow("the anonymous key only") << QStringList{"CANTORELLA_ANON_KEY"} << QStringList{"CANTORELLA_JWT_KEY"};
        QTest::newRow("the token key only, from a file") << QStringList{"CANTORELLA_JWT_KEY_FILE"}
                                                        << QStringList{"CANTORELLA_ANON_KEY"};
        QTest::newRow("both") << QStringList{"CANTORELLA_ANON_KEY_FILE", "CANTORELLA_JWT_KEY"} << QStringList();
    }

    void sharedDatabaseNeedsBothKeys()
    {
        QFETCH(QStringList, given);
        QFETCH(QStringList, missing);
        const QString key = dir.filePath(QStringLiteral("shared-key"));
        writeFile(key, "a-shared-key-of-more-than-32-characters\n", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        for (const char *name : {"CANTORELLA_ANON_KEY", "CANTORELLA_JWT_KEY", "CANTORELLA_ANON_KEY_FILE", "CANTORELLA_JWT_KEY_FILE"})
            qunsetenv(name);
        for (const QString &name : given)
            qputenv(name.toLatin1().constData(), name.endsWith(QLatin1String("_FILE")) ? key.toUtf8()
                                                                                   : QByteArray("a-shared-key-of-more-than-32-characters"));
        const QString data = dir.filePath(QStringLiteral("shared-%1").arg(QTest::currentDataTag()));
        try {
            const server::Secrets secrets = server::Secrets::load(data, true);
            QVERIFY(missing.isEmpty());
            QCOMPARE(secrets.tokenKey, std::string("a-shared-key-of-more-than-32-characters"));
        } catch (const ConfigError &error) {
            const QString message = QString::fromUtf8(error.what());
            QVERIFY2(!missing.isEmpty() && message.contains(QLatin1String("postgresql")), error.what());
            for (const QString &name : missing)
                QVERIFY2(message.contains(name), error.what());
        }
        QVERIFY(!QFile::exists(QDir(data).filePath(QStringLiteral("token-key")))); // nothing generated
        for (const QString &name : given)
            qunsetenv(name.toLatin1().constData());
    }
};

QTEST_GUILESS_MAIN(TestServerConfig)
#include "tst_serverconfig.moc"
