// The MPRIS now-playing source with stand-in readers (tests/data/reader-stubs) on a private bus:
// what each kind of reader output becomes on the stream, the watchdog, folding of requests,
// and which bus signals ask for a read.
#include "BusyMachine.h"
#include "MprisTestPlayer.h"
#include "PrivateSessionBus.h"
#include "session/nowplaying/MprisNowPlayingSource.h"

#include <QDBusMessage>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <qcoro/qcorotask.h>

#include <memory>

using Sample = std::optional<NowPlayingTrack>;

namespace {

QStringList g_log;
QtMessageHandler g_previousHandler = nullptr;

void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && QByteArray(context.category) == "com.cantorella.NowPlaying")
        g_log.append(message);
    g_previousHandler(type, context, message);
}

const QString readerPath = QStringLiteral(CANTORELLA_BINARY_DIR "/src/app/nowplaying-reader");

QString stub(const char *name)
{
    return QStringLiteral(CANTORELLA_TEST_DATA_DIR "/reader-stubs/") + QLatin1String(name);
}

// The next value on the stream, or nullopt when none arrived in time.
std::optional<Sample> nextValue(const Channel<Sample> &stream, int timeoutMs)
{
    if (!QTest::qWaitFor([&] { return stream.pending() > 0; }, timeoutMs))
        return std::nullopt;
    return QCoro::waitFor(stream.receive());
}

int countLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return int(file.readAll().count('\n'));
}

} // namespace

class TestMprisSource : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<PrivateSessionBus> m_bus;
    std::unique_ptr<QTemporaryDir> m_state;
    QDBusConnection m_emitter{QString()};
    int m_newClients = 0;

    std::unique_ptr<MprisNowPlayingSource> makeSource(const QString &reader, std::chrono::milliseconds poll)
    {
        MprisNowPlayingSource::Options options;
        options.readerPath = reader;
        options.bus = m_bus->connect(QStringLiteral("source-%1").arg(QTest::currentDataTag()));
        options.pollInterval = poll;
        return std::make_unique<MprisNowPlayingSource>(options);
    }
    int calls() const { return countLines(m_state->filePath(QStringLiteral("calls"))); }
    int logCount(const QString &pattern) const
    {
        return int(g_log.filter(QRegularExpression(pattern)).size());
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_bus = std::make_unique<PrivateSessionBus>();
        QVERIFY2(m_bus->isRunning(), "dbus-daemon did not start");
        m_emitter = m_bus->connect(QStringLiteral("emitter"));
        QVERIFY(m_emitter.isConnected());
        g_previousHandler = qInstallMessageHandler(captureLog);
    }
    void init()
    {
        g_log.clear();
        m_state = std::make_unique<QTemporaryDir>();
        qputenv("STUB_STATE_DIR", m_state->path().toUtf8());
    }

    // then.sh prints the fixed track first, so the second read's result is always visible:
    // either as a new track or as the change to "nothing playing".
    void secondReadGives_data()
    {
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("title"); // empty: absent
        QTest::addColumn<QString>("log");   // expected warning; empty: none

        QTest::newRow("fixed again") << "fixed.sh" << "Fixed Song" << "";
        QTest::newRow("null with white space") << "null.sh" << "" << "";
        QTest::newRow("error object") << "error.sh" << "" << "";
        QTest::newRow("garbage") << "garbage.sh" << ""
                                 << "^Failed to parse nowplaying-reader output \\(18 chars\\)$";
        QTest::newRow("valid output, exit status 3") << "exit-nonzero.sh" << "" << "";
        QTest::newRow("endless output") << "flood.sh" << ""
                                        << "^nowplaying-reader output exceeds 1048576 bytes — killing subprocess$";
        QTest::newRow("300 kB answer") << "large.sh" << "Large Song" << "";
    }
    void secondReadGives()
    {
        QFETCH(QString, next);
        QFETCH(QString, title);
        QFETCH(QString, log);
        qputenv("STUB_NEXT", next.toUtf8());
        auto source = makeSource(stub("then.sh"), std::chrono::milliseconds(400));
        const auto stream = source->trackPublisher();
        source->start();

        const auto first = nextValue(stream, 3000);
        QVERIFY(first && *first);
        QCOMPARE((*first)->title, QStringLiteral("Fixed Song"));
        QCOMPARE((*first)->artist, QStringLiteral("Stub Artist"));
        QCOMPARE((*first)->album, QStringLiteral("Stub Album"));
        QCOMPARE((*first)->duration, 200.0);
        QCOMPARE((*first)->elapsed, 10.0);
        QCOMPARE((*first)->isPlaying, false);
        QCOMPARE((*first)->sourceBundleIdentifier, std::optional<QString>(QStringLiteral("stub")));
        QVERIFY((*first)->sampleHostTime.has_value());

        const auto second = nextValue(stream, 3000);
        source->stop();
        QVERIFY(second);
        QCOMPARE(second->has_value(), !title.isEmpty());
        if (*second) {
            QCOMPARE((*second)->title, title);
            QVERIFY(*(*second)->sampleHostTime > *(*first)->sampleHostTime);
        }
        // A slow read tells of the machine's load, not of what the reader answered.
        QStringList warnings = g_log;
        warnings.removeIf([](const QString &w) { return w.startsWith(QLatin1String("nowplaying-reader fetch slow:")); });
        if (log.isEmpty())
            QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(u'\n')));
        else
            QVERIFY2(logCount(log) >= 1 && logCount(log) == warnings.size(), qPrintable(warnings.join(u'\n')));
    }

    void nothingPlayingIsYieldedOnce()
    {
        qputenv("STUB_NEXT", "null.sh");
        auto source = makeSource(stub("then.sh"), std::chrono::milliseconds(50));
        const auto stream = source->trackPublisher();
        source->start();
        const auto first = nextValue(stream, 3000);
        QVERIFY(first && *first);
        const auto second = nextValue(stream, 3000);
        QVERIFY(second && !*second);
        QTRY_VERIFY_WITH_TIMEOUT(calls() >= 6, 5000);
        QCOMPARE(stream.pending(), 0);
    }

    void hungReaderIsKilledAndReadsGoOn()
    {
        qputenv("STUB_NEXT", "hang.sh fixed.sh");
        auto source = makeSource(stub("then.sh"), std::chrono::milliseconds(200));
        const auto stream = source->trackPublisher();
        source->start();
        QVERIFY(nextValue(stream, 3000).value_or(std::nullopt).has_value());

        QElapsedTimer hang;
        hang.start();
        const auto afterHang = nextValue(stream, 9000);
        QVERIFY(afterHang && !*afterHang); // the killed read means nothing is playing
        // SIGTERM at 5 s is ignored; SIGKILL follows a second later.
        QVERIFY2(hang.elapsed() >= 5500, qPrintable(QString::number(hang.elapsed())));
        QCOMPARE(logCount(QStringLiteral("^nowplaying-reader watchdog fired — terminating stalled subprocess$")), 1);
        QCOMPARE(logCount(QStringLiteral("^nowplaying-reader fetch slow: (5|6|7)\\d\\d\\d ms$")), 1);

        const auto recovered = nextValue(stream, 3000);
        QVERIFY(recovered && *recovered);
        QCOMPARE((*recovered)->title, QStringLiteral("Fixed Song"));
    }

    void requestsDuringReadFoldIntoOne()
    {
        auto source = makeSource(stub("slow.sh"), std::chrono::seconds(60));
        const auto stream = source->trackPublisher();
        source->start();
        // The first read takes 0.4 s; three seeks land while it runs.
        for (int i = 0; i < 3; ++i) {
            auto seeked = QDBusMessage::createSignal(QStringLiteral("/org/mpris/MediaPlayer2"),
                                                     QStringLiteral("org.mpris.MediaPlayer2.Player"),
                                                     QStringLiteral("Seeked"));
            seeked << qlonglong(1'000'000 * i);
            QVERIFY(m_emitter.send(seeked));
        }
        QVERIFY(nextValue(stream, 3000));
        QVERIFY(nextValue(stream, 3000));
        QTest::qWait(700);
        QCOMPARE(stream.pending(), 0);
        QCOMPARE(calls(), 2);
        QVERIFY(!QFile::exists(m_state->filePath(QStringLiteral("overlaps"))));
    }

    void signalAsksForRead_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QStringList>("changed");
        QTest::addColumn<QStringList>("invalidated");
        QTest::addColumn<bool>("reads");

        const QString player = QStringLiteral("org.mpris.MediaPlayer2.Player");
        const QString path = QStringLiteral("/org/mpris/MediaPlayer2");
        QTest::newRow("volume step") << path << player << QStringList{"Volume"} << QStringList{} << false;
        QTest::newRow("shuffle and loop") << path << player << QStringList{"Shuffle", "LoopStatus"} << QStringList{}
                                          << false;
        QTest::newRow("play/pause") << path << player << QStringList{"PlaybackStatus"} << QStringList{} << true;
        QTest::newRow("new track with volume") << path << player << QStringList{"Volume", "Metadata"}
                                               << QStringList{} << true;
        QTest::newRow("rate") << path << player << QStringList{"Rate"} << QStringList{} << true;
        QTest::newRow("metadata invalidated") << path << player << QStringList{} << QStringList{"Metadata"} << true;
        QTest::newRow("other interface") << path << "org.mpris.MediaPlayer2.TrackList"
                                         << QStringList{"Metadata"} << QStringList{} << false;
        QTest::newRow("other object") << "/org/example" << player << QStringList{"PlaybackStatus"}
                                      << QStringList{} << false;
    }
    void signalAsksForRead()
    {
        QFETCH(QString, path);
        QFETCH(QString, interface);
        QFETCH(QStringList, changed);
        QFETCH(QStringList, invalidated);
        QFETCH(bool, reads);
        auto source = makeSource(stub("fixed.sh"), std::chrono::seconds(60));
        const auto stream = source->trackPublisher();
        source->start();
        QVERIFY(nextValue(stream, 3000)); // the read at start

        QVariantMap values;
        for (const QString &name : changed)
            values.insert(name, name == QLatin1String("Volume") ? QVariant(0.5) : QVariant(QStringLiteral("x")));
        auto signal = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                 QStringLiteral("PropertiesChanged"));
        signal << interface << values << invalidated;
        QVERIFY(m_emitter.send(signal));

        QCOMPARE(nextValue(stream, reads ? 3000 : 600).has_value(), reads);
        QCOMPARE(calls(), reads ? 2 : 1);
    }

    void playerAppearingOrLeavingAsksForRead()
    {
        auto source = makeSource(stub("fixed.sh"), std::chrono::seconds(60));
        const auto stream = source->trackPublisher();
        source->start();
        QVERIFY(nextValue(stream, 3000));

        QDBusConnection other = m_bus->connect(QStringLiteral("other-client"));
        QVERIFY(other.registerService(QStringLiteral("org.example.NotAPlayer")));
        QVERIFY(!nextValue(stream, 600));

        QVERIFY(other.registerService(QStringLiteral("org.mpris.MediaPlayer2.fake")));
        QVERIFY(nextValue(stream, 3000));
        QVERIFY(other.unregisterService(QStringLiteral("org.mpris.MediaPlayer2.fake")));
        QVERIFY(nextValue(stream, 3000));
        QCOMPARE(calls(), 3);
    }

    void launchFailureIsLogged()
    {
        auto source = makeSource(QStringLiteral("/nonexistent/nowplaying-reader"), std::chrono::milliseconds(100));
        const auto stream = source->trackPublisher();
        source->start();
        QTRY_VERIFY(logCount(QStringLiteral("^nowplaying-reader launch failed: .+")) >= 2); // and it keeps trying
        QCOMPARE(stream.pending(), 0); // nothing was playing before, so nothing changed
    }

    void readRunningAtStopIsDropped()
    {
        auto source = makeSource(stub("slow.sh"), std::chrono::milliseconds(100));
        const auto stream = source->trackPublisher();
        source->start();
        source->stop();
        QVERIFY(stream.isFinished());
        QTRY_COMPARE(calls(), 1);
        QTest::qWait(600); // the read ends 0.4 s after it began
        QCOMPARE(stream.pending(), 0);
        QCOMPARE(calls(), 1);
        source->start(); // a stopped source stays stopped
        QTest::qWait(300);
        QCOMPARE(calls(), 1);
    }

    // Settling reads follow every new line while playing, but a player that reports its position
    // exactly gives them nothing to move: the stream carries one sample per ordinary read, as it
    // would without them.
    void exactPlayerGetsNoSettlingSamples()
    {
        m_bus->exportToEnvironment(); // for the real reader
        const QString playerConnection = QStringLiteral("exact-player");
        MprisTestPlayer player(m_bus->connect(playerConnection), QStringLiteral("exact"),
                               MprisTestPlayer::Reporting::exact);
        const auto cleanup = qScopeGuard([&] { QDBusConnection::disconnectFromBus(playerConnection); });
        QVERIFY(player.publish());
        player.play();
        m_emitter.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                          QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                          SLOT(onNameOwnerChanged(QString, QString, QString)));
        m_newClients = 0;

        auto source = makeSource(readerPath, std::chrono::seconds(60));
        const auto stream = source->trackPublisher();
        source->start();
        // Two seconds at least, and until the settling reads are in, however long a busy machine
        // takes to start their readers.
        QElapsedTimer serving;
        serving.start();
        const BusyMachine::CoreUse coreUse;
        MprisTestPlayer::serveFor(std::chrono::milliseconds(2000));
        while (m_newClients < 1 + MprisNowPlayingSource::settlingReads && serving.elapsed() < 60000)
            MprisTestPlayer::serveFor(std::chrono::milliseconds(50));
        source->stop();
        QCOMPARE(m_newClients, 1 + MprisNowPlayingSource::settlingReads); // each reader joins the bus
        // A busy machine stretches each read's round trip, and the instant its position is timed by
        // with it, beyond the few milliseconds a settling read may differ by unpublished: then a
        // settling read may send a sample too.
        const double coresBusy = coreUse.busyShare();
        qInfo("load %.2f a core; its cores busy %.0f %% of the time", BusyMachine::loadPerCore(), coresBusy * 100);
        const bool busy = BusyMachine::tooBusyForFigures({}, coresBusy);
        if (busy)
            QVERIFY2(stream.pending() >= 1 && stream.pending() <= 1 + MprisNowPlayingSource::settlingReads,
                     QByteArray::number(stream.pending()).constData());
        else
            QCOMPARE(stream.pending(), 1);
        const auto sample = nextValue(stream, 0);
        QVERIFY(sample && *sample && (*sample)->isPlaying);
        const double error = (*sample)->elapsed - player.truePosition(*(*sample)->sampleHostTime);
        // The read is timed by the middle of its round trip, which a busy machine stretches.
        const double bound = busy ? 0.25 : 0.002;
        QVERIFY2(std::abs(error) < bound, qPrintable(QString::number(error * 1000, 'f', 3)));
    }

    void onNameOwnerChanged(const QString &name, const QString &, const QString &newOwner)
    {
        if (name.startsWith(u':') && !newOwner.isEmpty())
            ++m_newClients;
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(g_previousHandler);
    }
};

QTEST_GUILESS_MAIN(TestMprisSource)
#include "tst_mpris_source.moc"
