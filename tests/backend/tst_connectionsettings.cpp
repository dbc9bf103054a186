#include "backend/ConnectionSettings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using ConnectionSettings::Source;

Q_DECLARE_METATYPE(ConnectionSettings::Source)

namespace {

constexpr const char *kVariable = "CANTORELLA_TEST_SERVER_VALUE";

// A settings file as the server's package writes it: comments, then the group.
void writeSettingsFile(const QString &path, const QString &value)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("# Where Cantorella finds the server on this machine.\n[Server]\n");
    if (!value.isNull())
        file.write(QStringLiteral("%1=%2\n").arg(QLatin1String(kVariable), value).toUtf8());
}

} // namespace

// The order of the layers a server address and key come from: the environment, then the
// system-wide settings file, then the compiled-in value; never the user's own settings.
class TestConnectionSettings : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_folder.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, m_folder.filePath("system"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_folder.filePath("user"));
        QFile::remove(systemFile());
        QFile::remove(userFile());
        qunsetenv(kVariable);
    }

    void cleanup() { qunsetenv(kVariable); }

    void addressOrder_data()
    {
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<Source>("source");
        QTest::addColumn<bool>("warns");

        const QString env = "http://10.0.0.1:1";
        const QString sys = "http://127.0.0.1:8787";
        QTest::newRow("environment over system") << env.toUtf8() << sys << QString() << env << Source::environment << false;
        QTest::newRow("system over compiled-in") << QByteArray() << sys << QString() << sys << Source::systemSettings << false;
        QTest::newRow("neither: compiled-in") << QByteArray() << QString() << QString() << "https://compiled.example.com"
                                              << Source::compiledIn << false;
        QTest::newRow("empty in system") << QByteArray() << "" << QString() << "https://compiled.example.com"
                                         << Source::compiledIn << false;
        QTest::newRow("environment not http") << QByteArray("ftp://example.com") << sys << QString() << sys
                                              << Source::systemSettings << true;
        QTest::newRow("environment not a url") << QByteArray("::nonsense") << QString() << QString()
                                               << "https://compiled.example.com" << Source::compiledIn << true;
        QTest::newRow("system not http") << QByteArray() << "file:///etc" << QString() << "https://compiled.example.com"
                                         << Source::compiledIn << true;
        // A value in the user's own file neither counts nor hides the system's.
        QTest::newRow("user file alone") << QByteArray() << QString() << env << "https://compiled.example.com"
                                         << Source::compiledIn << false;
        QTest::newRow("user file beside system") << QByteArray() << sys << env << sys << Source::systemSettings << false;
    }

    void addressOrder()
    {
        QFETCH(QByteArray, environment);
        QFETCH(QString, system);
        QFETCH(QString, user);
        QFETCH(QString, expected);
        QFETCH(Source, source);
        QFETCH(bool, warns);
        setLayers(environment, system, user);
        if (warns)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Ignoring %1 from ").arg(kVariable)));

        const ConnectionSettings::Address address =
            ConnectionSettings::address(kVariable, "https://compiled.example.com", *ConnectionSettings::systemSettings());
        QCOMPARE(address.url.toString(), expected);
        QCOMPARE(address.source, source);
    }

    void keyOrder_data()
    {
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<Source>("source");

        QTest::newRow("environment over system") << QByteArray("env-key") << "sys-key" << QString() << "env-key"
                                                 << Source::environment;
        QTest::newRow("system over compiled-in") << QByteArray() << "sys-key" << QString() << "sys-key"
                                                 << Source::systemSettings;
        QTest::newRow("neither") << QByteArray() << QString() << QString() << "compiled-key" << Source::compiledIn;
        QTest::newRow("user file ignored") << QByteArray() << "sys-key" << "user-key" << "sys-key" << Source::systemSettings;
    }

    void keyOrder()
    {
        QFETCH(QByteArray, environment);
        QFETCH(QString, system);
        QFETCH(QString, user);
        QFETCH(QString, expected);
        QFETCH(Source, source);
        setLayers(environment, system, user);

        const ConnectionSettings::Key key =
            ConnectionSettings::key(kVariable, "compiled-key", *ConnectionSettings::systemSettings());
        QCOMPARE(key.value, expected);
        QCOMPARE(key.source, source);
    }

    // The log names the file a value came from, so that an operator finds it.
    void systemSourceNamesItsFile()
    {
        QCOMPARE(ConnectionSettings::describe(Source::systemSettings),
                 QStringLiteral("the system settings (%1)").arg(systemFile()));
    }

private:
    QString systemFile() const { return m_folder.filePath("system/com.cantorella/Cantorella.conf"); }
    QString userFile() const { return m_folder.filePath("user/com.cantorella/Cantorella.conf"); }

    void setLayers(const QByteArray &environment, const QString &system, const QString &user)
    {
        if (!environment.isEmpty())
            qputenv(kVariable, environment);
        if (!system.isNull())
            writeSettingsFile(systemFile(), system);
        if (!user.isNull())
            writeSettingsFile(userFile(), user);
    }

    QTemporaryDir m_folder;
};

QTEST_GUILESS_MAIN(TestConnectionSettings)
#include "tst_connectionsettings.moc"
