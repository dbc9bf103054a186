// nowplaying-reader as a black box, against stand-in MPRIS players on a private bus: which
// player it chooses, how it turns MPRIS values (µs, artist lists, Rate while paused, nonsense)
// into its JSON, and that a player that never answers does not hold it up.
#include "BusyMachine.h"
#include "ChildProcess.h"
#include "MprisTestPlayer.h"
#include "PrivateSessionBus.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <chrono>
#include <memory>

namespace {

const QString readerPath = QStringLiteral(CANTORELLA_BINARY_DIR "/src/app/nowplaying-reader");
const QString prefix = QStringLiteral("org.mpris.MediaPlayer2.");

struct PlayerSetup
{
    QString name; // bus-name suffix
    QVariantMap player;
    QVariantMap metadata;
    QString desktopEntry;
    bool silent = false; // never answers
};

PlayerSetup player(const QString &name, const QString &status, const QVariant &title = QStringLiteral("Song"))
{
    PlayerSetup setup;
    setup.name = name;
    setup.player = {{QStringLiteral("PlaybackStatus"), status},
                   {QStringLiteral("Rate"), 1.0},
                   {QStringLiteral("Volume"), 0.8},
                   {QStringLiteral("Position"), qlonglong(12'500'000)}};
    setup.metadata = {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath("/track/1"))},
                     {QStringLiteral("mpris:length"), qlonglong(200'000'000)},
                     {QStringLiteral("xesam:artist"), QStringList{QStringLiteral("Artist")}},
                     {QStringLiteral("xesam:album"), QStringLiteral("Album")}};
    if (title.isValid())
        setup.metadata.insert(QStringLiteral("xesam:title"), title);
    return setup;
}

PlayerSetup with(PlayerSetup setup, const QString &key, const QVariant &value)
{
    QVariantMap &map = key.contains(u':') ? setup.metadata : setup.player;
    if (value.isValid())
        map.insert(key, value);
    else
        map.remove(key);
    return setup;
}

// Answers Properties.Get / GetAll on /org/mpris/MediaPlayer2 from fixed maps.
class FakePlayer final : public QDBusVirtualObject
{
public:
    explicit FakePlayer(PlayerSetup setup) : m_setup(std::move(setup))
    {
        m_setup.player.insert(QStringLiteral("Metadata"), m_setup.metadata);
        if (!m_setup.desktopEntry.isEmpty())
            m_root.insert(QStringLiteral("DesktopEntry"), m_setup.desktopEntry);
        m_root.insert(QStringLiteral("Identity"), m_setup.name);
    }

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.interface() != QLatin1String("org.freedesktop.DBus.Properties"))
            return false;
        if (m_setup.silent)
            return true; // no reply: the caller waits for its own time-out
        const QString interface = message.arguments().value(0).toString();
        const QVariantMap none;
        const QVariantMap &properties = interface == QLatin1String("org.mpris.MediaPlayer2.Player") ? m_setup.player
                                        : interface == QLatin1String("org.mpris.MediaPlayer2")       ? m_root
                                                                                                    : none;
        if (message.member() == QLatin1String("GetAll"))
            return connection.send(message.createReply(QVariant::fromValue(properties)));
        const QString name = message.arguments().value(1).toString();
        if (message.member() == QLatin1String("Get") && properties.contains(name))
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(properties.value(name)))));
        return connection.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                                        QStringLiteral("no such property")));
    }

private:
    PlayerSetup m_setup;
    QVariantMap m_root;
};

} // namespace

Q_DECLARE_METATYPE(PlayerSetup)

class TestMprisReader : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PrivateSessionBus> m_bus;
    int m_connections = 0;

    // What starting the reader costs on this machine at the moment, twice over (the machine may
    // be busier a moment later): the time of a run that ends as soon as it has read its
    // arguments. Bounds on a run's time add it.
    qint64 startingCost()
    {
        QProcess reader;
        ChildProcess::diesWithTest(reader);
        QElapsedTimer clock;
        clock.start();
        reader.start(readerPath, {QStringLiteral("--watch"), QStringLiteral("soon")});
        reader.waitForFinished(60000);
        return 2 * clock.elapsed();
    }

    // Runs the reader while this thread's event loop keeps the stand-in players answering.
    QJsonValue runReader(qint64 *milliseconds = nullptr, const QStringList &arguments = {})
    {
        QProcess reader;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus->address());
        reader.setProcessEnvironment(environment);
        QElapsedTimer clock;
        clock.start();
        ChildProcess::diesWithTest(reader);
        reader.start(readerPath, arguments);
        if (!QTest::qWaitFor([&] { return reader.state() == QProcess::NotRunning; }, 60000))
            return QJsonValue(QStringLiteral("reader did not finish"));
        if (milliseconds)
            *milliseconds = clock.elapsed();
        if (reader.exitStatus() != QProcess::NormalExit || reader.exitCode() != 0)
            return QJsonValue(QStringLiteral("reader failed"));
        const QByteArray output = reader.readAllStandardOutput().trimmed();
        if (output == "null")
            return QJsonValue::Null;
        return QJsonDocument::fromJson(output).object();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(readerPath), qPrintable(readerPath));
        m_bus = std::make_unique<PrivateSessionBus>();
        QVERIFY2(m_bus->isRunning(), "dbus-daemon did not start");
    }

    void chooses_data()
    {
        QTest::addColumn<QList<PlayerSetup>>("players");
        QTest::addColumn<QString>("chosen"); // bus-name suffix; empty: null
        QTest::addColumn<QJsonObject>("expected"); // keys that must have these values

        PlayerSetup full = player(QStringLiteral("mpv"), QStringLiteral("Playing"));
        full.desktopEntry = QStringLiteral("mpv");
        full = with(full, QStringLiteral("xesam:artist"), QStringList{"A", "", "B"});
        QTest::newRow("one player, every field")
            << QList<PlayerSetup>{full} << "mpv"
            << QJsonObject{{"t", "Song"}, {"a", "A, B"}, {"l", "Album"}, {"d", 200}, {"e", 12.5}, {"r", 1}, {"b", "mpv"},
                           {"dbgPlaybackStatus", "Playing"}};
        QTest::newRow("paused: rate 0 although Rate says 1")
            << QList<PlayerSetup>{player("vlc", "Paused")} << "vlc" << QJsonObject{{"r", 0}, {"e", 12.5}, {"dbgRate", 1}};
        QTest::newRow("playing beats paused")
            << QList<PlayerSetup>{player("aaa", "Paused"), player("zzz", "Playing")} << "zzz" << QJsonObject{{"r", 1}};
        QTest::newRow("tie: first bus name")
            << QList<PlayerSetup>{player("zeta", "Playing"), player("alpha", "Playing"), player("mid", "Playing")}
            << "alpha" << QJsonObject{};
        QTest::newRow("stopped is skipped")
            << QList<PlayerSetup>{player("alpha", "Stopped"), player("zeta", "Paused")} << "zeta" << QJsonObject{};
        QTest::newRow("only stopped") << QList<PlayerSetup>{player("alpha", "Stopped")} << "" << QJsonObject{};
        QTest::newRow("no title is skipped")
            << QList<PlayerSetup>{player("alpha", "Playing", QVariant()), player("zeta", "Paused")} << "zeta"
            << QJsonObject{};
        QTest::newRow("empty or non-text title")
            << QList<PlayerSetup>{player("a", "Playing", QString()), player("b", "Playing", 42)} << ""
            << QJsonObject{};
        QTest::newRow("no players") << QList<PlayerSetup>{} << "" << QJsonObject{};
        QTest::newRow("zero length")
            << QList<PlayerSetup>{with(player("p", "Playing"), "mpris:length", qlonglong(0))} << "p"
            << QJsonObject{{"d", QJsonValue::Null}};
        QTest::newRow("length as text")
            << QList<PlayerSetup>{with(player("p", "Playing"), "mpris:length", QStringLiteral("200"))} << "p"
            << QJsonObject{{"d", QJsonValue::Null}};
        QTest::newRow("length as unsigned and as double")
            << QList<PlayerSetup>{with(with(player("p", "Playing"), "mpris:length", qulonglong(90'000'000)), "Position",
                                      1.5e6)}
            << "p" << QJsonObject{{"d", 90}, {"e", 1.5}};
        QTest::newRow("negative position")
            << QList<PlayerSetup>{with(player("p", "Playing"), "Position", qlonglong(-5))} << "p"
            << QJsonObject{{"e", 0}};
        QTest::newRow("no position")
            << QList<PlayerSetup>{with(player("p", "Playing"), "Position", QVariant())} << "p"
            << QJsonObject{{"e", QJsonValue::Null}, {"ts", QJsonValue::Null}};
        QTest::newRow("artist as one string, no album")
            << QList<PlayerSetup>{with(with(player("p", "Playing"), "xesam:artist", QStringLiteral("Solo")),
                                      "xesam:album", QVariant())}
            << "p" << QJsonObject{{"a", "Solo"}, {"l", QJsonValue::Null}};
        QTest::newRow("no desktop entry: bus-name suffix")
            << QList<PlayerSetup>{player("mpv.instance4242", "Playing")} << "mpv.instance4242"
            << QJsonObject{{"b", "mpv.instance4242"}, {"dbgDesktopEntry", QJsonValue::Null}};
        QTest::newRow("double speed") << QList<PlayerSetup>{with(player("p", "Playing"), "Rate", 2.0)} << "p"
                                      << QJsonObject{{"r", 2}};
        QTest::newRow("playing without a rate") << QList<PlayerSetup>{with(player("p", "Playing"), "Rate", QVariant())}
                                                << "p" << QJsonObject{{"r", 1}, {"dbgRate", QJsonValue::Null}};
        QTest::newRow("playing with rate 0") << QList<PlayerSetup>{with(player("p", "Playing"), "Rate", 0.0)} << "p"
                                             << QJsonObject{{"r", 1}};
        PlayerSetup silent = player("aaa", "Playing");
        silent.silent = true;
        QTest::newRow("a player that never answers") << QList<PlayerSetup>{silent, player("zzz", "Paused")} << "zzz"
                                                     << QJsonObject{};
    }
    void chooses()
    {
        QFETCH(QList<PlayerSetup>, players);
        QFETCH(QString, chosen);
        QFETCH(QJsonObject, expected);

        std::vector<std::unique_ptr<FakePlayer>> objects;
        QStringList connectionNames;
        for (const PlayerSetup &setup : players) {
            const QString connectionName = QStringLiteral("player-%1").arg(++m_connections);
            QDBusConnection connection = m_bus->connect(connectionName);
            connectionNames.append(connectionName);
            objects.push_back(std::make_unique<FakePlayer>(setup));
            QVERIFY(connection.registerVirtualObject(QStringLiteral("/org/mpris/MediaPlayer2"), objects.back().get()));
            QVERIFY(connection.registerService(prefix + setup.name));
        }
        const auto cleanup = qScopeGuard([&] {
            for (const QString &name : connectionNames)
                QDBusConnection::disconnectFromBus(name);
        });

        const double before = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        qint64 took = 0;
        const QJsonValue result = runReader(&took);
        const double after = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        // Well inside the source's 5 s watchdog, besides what starting a process costs right now.
        QVERIFY2(took < 4000 + startingCost(), qPrintable(QString::number(took)));
        if (chosen.isEmpty()) {
            QVERIFY2(result.isNull(), qPrintable(QJsonDocument(QJsonObject{{"result", result}}).toJson()));
            return;
        }
        QVERIFY2(result.isObject(), qPrintable(result.toString()));
        const QJsonObject object = result.toObject();
        QCOMPARE(object.value("dbgBusName").toString(), prefix + chosen);
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QVERIFY2(object.value(it.key()) == it.value(),
                     qPrintable(it.key() + QStringLiteral(": ") + QJsonDocument(object).toJson(QJsonDocument::Compact)));
        if (object.value("e").isDouble()) {
            const double ts = object.value("ts").toDouble();
            QVERIFY2(ts >= before - 0.01 && ts <= after + 0.01, qPrintable(QString::number(ts, 'f', 3)));
        }
    }

    // --watch: Position is asked again until it moves. A player that steps shows the answers it
    // repeated and the two reads around its step; one that moves all the time moves at once; one
    // that never moves is watched to the limit.
    void watch_data()
    {
        QTest::addColumn<int>("kind"); // MprisTestPlayer::Reporting, or -1: a position that never moves
        QTest::addColumn<double>("jump"); // the move, seconds; NaN: none

        QTest::newRow("steps of 260 ms") << int(MprisTestPlayer::Reporting::stepped) << MprisTestPlayer::stepLength;
        QTest::newRow("moves all the time") << int(MprisTestPlayer::Reporting::exact) << 0.0;
        QTest::newRow("never moves") << -1 << qQNaN();
    }
    void watch()
    {
        QFETCH(int, kind);
        QFETCH(double, jump);
        const QString connectionName = QStringLiteral("player-%1").arg(++m_connections);
        QDBusConnection connection = m_bus->connect(connectionName);
        const auto cleanup = qScopeGuard([&] { QDBusConnection::disconnectFromBus(connectionName); });
        std::unique_ptr<QDBusVirtualObject> object;
        if (kind < 0) {
            object = std::make_unique<FakePlayer>(player(QStringLiteral("stuck"), QStringLiteral("Playing")));
            QVERIFY(connection.registerVirtualObject(QStringLiteral("/org/mpris/MediaPlayer2"), object.get()));
            QVERIFY(connection.registerService(prefix + QStringLiteral("stuck")));
        } else {
            auto stand_in = std::make_unique<MprisTestPlayer>(connection, QStringLiteral("timing"),
                                                              MprisTestPlayer::Reporting(kind));
            QVERIFY(stand_in->publish());
            stand_in->play();
            object = std::move(stand_in);
        }

        qint64 took = 0;
        const QJsonObject result = runReader(&took, {QStringLiteral("--watch"), QStringLiteral("400")}).toObject();
        const QJsonObject watch = result.value("watch").toObject();
        QVERIFY2(!watch.isEmpty(), qPrintable(QJsonDocument(result).toJson(QJsonDocument::Compact)));
        const double from = watch.value("from").toDouble();
        const double ts = result.value("ts").toDouble();
        // The first read's time is the middle of its round trip; "from" is when it (nothing held)
        // or a later read was asked.
        QVERIFY(watch.value("held").toInt() > 0 ? from >= ts : from <= ts);
        if (std::isnan(jump)) {
            QVERIFY(watch.value("e").isNull() && watch.value("to").isNull());
            QVERIFY2(watch.value("held").toInt() > 5, qPrintable(QString::number(watch.value("held").toInt())));
            QVERIFY2(took >= 400 && took < 2500 + startingCost(), qPrintable(QString::number(took)));
            return;
        }
        const double moved = watch.value("e").toDouble() - result.value("e").toDouble();
        const double to = watch.value("to").toDouble();
        // The two reads around the move follow each other closely: a few ms apart, unless the
        // machine is too busy to run either process on time.
        const double bracket = BusyMachine::loadPerCore() >= 1 ? 1.0 : 0.05;
        QVERIFY2(to > from && to - from < bracket, qPrintable(QString::number(to - from, 'f', 4)));
        if (jump > 0) {
            QVERIFY(watch.value("held").toInt() > 0);
            QVERIFY2(std::abs(moved - jump) < 1e-6, qPrintable(QString::number(moved, 'f', 6)));
        } else {
            QCOMPARE(watch.value("held").toInt(), 0);
            // Both values were computed between the first read's asking and the second's answer.
            QVERIFY2(moved > 0 && moved <= to - from, qPrintable(QString::number(moved, 'f', 6)));
        }
    }

    void badWatchIsRefused()
    {
        QProcess reader;
        ChildProcess::diesWithTest(reader);
        reader.start(readerPath, {QStringLiteral("--watch"), QStringLiteral("soon")});
        QVERIFY(reader.waitForFinished(5000));
        QCOMPARE(reader.exitCode(), 2);
        QVERIFY(reader.readAllStandardOutput().isEmpty());
    }

    void noBus()
    {
        QProcess reader;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
        reader.setProcessEnvironment(environment);
        ChildProcess::diesWithTest(reader);
        reader.start(readerPath, {});
        QVERIFY(reader.waitForFinished(5000));
        QCOMPARE(reader.exitCode(), 0);
        QCOMPARE(QJsonDocument::fromJson(reader.readAllStandardOutput()).object(),
                 (QJsonObject{{"error", "no session bus"}}));
    }
};

QTEST_GUILESS_MAIN(TestMprisReader)
#include "tst_mpris_reader.moc"
