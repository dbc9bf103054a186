#include "session/nowplaying/MprisNowPlayingSource.h"

#include "core/AppLog.h"
#include "session/nowplaying/MprisReaderOutput.h"
#include "session/nowplaying/MprisReaderProcess.h"

#include <QCoreApplication>
#include <QDir>

namespace {
const QString mprisPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString playerNamePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");

// The properties whose change can change the sample; Volume, Shuffle, LoopStatus… cannot.
bool touchesSample(const QString &property)
{
    return property == QLatin1String("Metadata") || property == QLatin1String("PlaybackStatus")
        || property == QLatin1String("Rate");
}
} // namespace

MprisNowPlayingSource::MprisNowPlayingSource(Options options, QObject *parent)
    : QObject(parent)
    , m_bus(options.bus.value_or(QDBusConnection::sessionBus()))
    , m_readerPath(options.readerPath.isEmpty() ? defaultReaderPath() : options.readerPath)
    , m_clock(options.clock ? options.clock : ContinuousClock::system())
{
    m_pollingTimer.setInterval(options.pollInterval);
    m_pollingTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_pollingTimer, &QTimer::timeout, this, &MprisNowPlayingSource::requestRead);
}

MprisNowPlayingSource::~MprisNowPlayingSource()
{
    unsubscribe();
    if (m_currentRead)
        m_currentRead->abandon();
}

QString MprisNowPlayingSource::defaultReaderPath()
{
    const QString fromEnvironment = qEnvironmentVariable("CANTORELLA_NOWPLAYING_READER");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("nowplaying-reader"));
}

void MprisNowPlayingSource::start()
{
    if (m_isStopped || m_isRunning)
        return;
    m_isRunning = true;

    // Each signal only asks for a read; what changed is read back from the players.
    m_subscribed = true;
    m_bus.connect(QString(), mprisPath, propertiesInterface, QStringLiteral("PropertiesChanged"), this,
                  SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    m_bus.connect(QString(), mprisPath, playerInterface, QStringLiteral("Seeked"), this, SLOT(onSeeked(qlonglong)));
    // Qt 6.4 cannot match a name prefix on the bus, so every owner change arrives and the
    // slot keeps the players' ones.
    m_bus.connect(busService, busPath, busService, QStringLiteral("NameOwnerChanged"), this,
                  SLOT(onNameOwnerChanged(QString, QString, QString)));

    m_pollingTimer.start();
    requestRead();
}

void MprisNowPlayingSource::stop()
{
    m_isStopped = true;
    m_isRunning = false;
    unsubscribe();
    m_pollingTimer.stop();
    m_isFetchInFlight = false;
    m_pendingFetch = false;
    m_trackPublisher.finish();
}

void MprisNowPlayingSource::unsubscribe()
{
    if (!m_subscribed)
        return;
    m_subscribed = false;
    m_bus.disconnect(QString(), mprisPath, propertiesInterface, QStringLiteral("PropertiesChanged"), this,
                     SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    m_bus.disconnect(QString(), mprisPath, playerInterface, QStringLiteral("Seeked"), this,
                     SLOT(onSeeked(qlonglong)));
    m_bus.disconnect(busService, busPath, busService, QStringLiteral("NameOwnerChanged"), this,
                     SLOT(onNameOwnerChanged(QString, QString, QString)));
}

void MprisNowPlayingSource::onPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                                const QStringList &invalidated)
{
    if (interface != playerInterface)
        return;
    const QStringList names = changed.keys();
    if (std::any_of(names.begin(), names.end(), touchesSample)
        || std::any_of(invalidated.begin(), invalidated.end(), touchesSample))
        requestRead();
}

void MprisNowPlayingSource::onSeeked(qlonglong)
{
    requestRead();
}

void MprisNowPlayingSource::onNameOwnerChanged(const QString &name, const QString &, const QString &)
{
    if (name.startsWith(playerNamePrefix))
        requestRead();
}

void MprisNowPlayingSource::requestRead()
{
    if (!m_isRunning)
        return;
    if (m_isFetchInFlight) {
        m_pendingFetch = true;
        return;
    }
    m_isFetchInFlight = true;
    auto *read = new MprisReaderProcess(
        m_readerPath, m_clock,
        [this](const MprisReaderProcess::Outcome &outcome) {
            if (m_currentRead)
                m_currentRead->deleteLater();
            m_currentRead = nullptr;
            std::optional<NowPlayingTrack> track;
            if (outcome.exitedCleanly) {
                const auto parsed = MprisReaderOutput::parse(outcome.standardOutput, outcome.sampleInstant,
                                                             outcome.sampleDate);
                if (parsed.parseFailed)
                    qCWarning(lcNowPlaying, "Failed to parse nowplaying-reader output (%lld chars)",
                              static_cast<long long>(parsed.characters));
                track = parsed.track;
            }
            completeRead(outcome.readMilliseconds, std::move(track));
        },
        this);
    m_currentRead = read;
    read->start();
}

void MprisNowPlayingSource::completeRead(qint64 readMilliseconds, std::optional<NowPlayingTrack> result)
{
    if (!m_isRunning)
        return;
    m_isFetchInFlight = false;
    if (readMilliseconds > slowReadThreshold.count())
        qCWarning(lcNowPlaying, "nowplaying-reader fetch slow: %lld ms", static_cast<long long>(readMilliseconds));
    // Every successful read carries a fresh sample instant, so only a repeated "nothing
    // playing" is held back here.
    if (result != m_lastYielded) {
        m_lastYielded = result;
        m_trackPublisher.send(std::move(result));
    }
    if (m_pendingFetch) {
        m_pendingFetch = false;
        requestRead();
    }
}
