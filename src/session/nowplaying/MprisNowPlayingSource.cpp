#include "session/nowplaying/MprisNowPlayingSource.h"

#include "core/AppLog.h"
#include "session/nowplaying/MprisReaderOutput.h"
#include "session/nowplaying/MprisReaderProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <utility>

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
    m_settlingTimer.setSingleShot(true);
    m_settlingTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_settlingTimer, &QTimer::timeout, this, &MprisNowPlayingSource::launchSettlingRead);
}

MprisNowPlayingSource::~MprisNowPlayingSource()
{
    unsubscribe();
    if (m_currentRead)
        m_currentRead->abandon();
    if (m_settlingRead)
        m_settlingRead->abandon();
}

QString MprisNowPlayingSource::defaultReaderPath()
{
    const QString fromEnvironment = qEnvironmentVariable("CANTORELLA_NOWPLAYING_READER");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    // Built: next to the application. Installed: in libexec/cantorella/ beside the program's bin/.
    const QDir programFolder(QCoreApplication::applicationDirPath());
    const QString besideProgram = programFolder.filePath(QStringLiteral("nowplaying-reader"));
    if (QFileInfo::exists(besideProgram))
        return besideProgram;
    return QDir::cleanPath(programFolder.filePath(QStringLiteral(CANTORELLA_READER_DIR_FROM_BIN "/nowplaying-reader")));
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
    stopSettling();
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
        || std::any_of(invalidated.begin(), invalidated.end(), touchesSample)) {
        noteSignal();
        requestRead();
    }
}

void MprisNowPlayingSource::onSeeked(qlonglong)
{
    m_seekedSinceLaunch = true;
    noteSignal();
    requestRead();
}

void MprisNowPlayingSource::onNameOwnerChanged(const QString &name, const QString &, const QString &)
{
    if (name.startsWith(playerNamePrefix)) {
        noteSignal();
        requestRead();
    }
}

void MprisNowPlayingSource::noteSignal()
{
    ++m_signalGeneration;
    // It is launched again once the read the signal asked for has shown what changed.
    if (m_settlingRead) {
        m_settlingRead->abandon();
        m_settlingRead->deleteLater();
        m_settlingRead = nullptr;
    }
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
    // A seek announced after this launch is for the next read to find.
    const bool seeked = std::exchange(m_seekedSinceLaunch, false);
    launch(m_currentRead, {},
           [this, seeked](const MprisReaderProcess::Outcome &outcome) { completeRead(outcome, seeked); });
}

void MprisNowPlayingSource::launch(QPointer<MprisReaderProcess> &slot, const QStringList &arguments,
                                   std::function<void(const MprisReaderProcess::Outcome &)> done)
{
    auto *read = new MprisReaderProcess(
        m_readerPath, arguments, m_clock,
        [&slot, done = std::move(done)](const MprisReaderProcess::Outcome &outcome) {
            if (slot)
                slot->deleteLater();
            slot = nullptr;
            done(outcome);
        },
        this);
    slot = read;
    read->start();
}

MprisReaderOutput::Result MprisNowPlayingSource::parse(const MprisReaderProcess::Outcome &outcome) const
{
    if (!outcome.exitedCleanly)
        return {};
    auto parsed = MprisReaderOutput::parse(outcome.standardOutput, outcome.sampleInstant, outcome.sampleDate);
    if (parsed.parseFailed)
        qCWarning(lcNowPlaying, "Failed to parse nowplaying-reader output (%lld chars)",
                  static_cast<long long>(parsed.characters));
    return parsed;
}

void MprisNowPlayingSource::completeRead(const MprisReaderProcess::Outcome &outcome, bool seeked)
{
    if (!m_isRunning)
        return;
    m_isFetchInFlight = false;
    if (outcome.readMilliseconds > slowReadThreshold.count())
        qCWarning(lcNowPlaying, "nowplaying-reader fetch slow: %lld ms",
                  static_cast<long long>(outcome.readMilliseconds));
    const MprisReaderOutput::Result parsed = parse(outcome);
    std::optional<NowPlayingTrack> result;
    if (parsed.track) {
        result = follow(*parsed.track, parsed.read, seeked);
    } else {
        m_estimator.reset();
        stopSettling();
    }
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

NowPlayingTrack MprisNowPlayingSource::follow(NowPlayingTrack track, const std::optional<PositionRead> &read,
                                              bool seeked)
{
    if (!read) {
        // No position to place: the track goes out as read, and the next read begins afresh.
        m_estimator.reset();
        stopSettling();
        return track;
    }
    if (m_estimator.add(*read, seeked)) {
        if (read->rate > 0)
            startSettling();
        else
            stopSettling();
    } else {
        scheduleSettling(); // a signal may have stopped a settling read that is still due
    }
    track.elapsed = estimatedElapsed(track);
    return track;
}

double MprisNowPlayingSource::estimatedElapsed(const NowPlayingTrack &track) const
{
    const ContinuousInstant at = track.sampleHostTime.value_or(m_clock->now());
    const double position = m_estimator.positionAt(at).value_or(track.elapsed);
    return track.duration > 0 && track.duration < position ? track.duration : position;
}

// ---- settling reads ----------------------------------------------------------------------------

void MprisNowPlayingSource::startSettling()
{
    stopSettling();
    m_settlingReadsLeft = settlingReads;
    m_lineStart = m_clock->now();
    scheduleSettling();
}

void MprisNowPlayingSource::stopSettling()
{
    m_settlingReadsLeft = 0;
    m_settlingTimer.stop();
    if (m_settlingRead) {
        m_settlingRead->abandon();
        m_settlingRead->deleteLater();
        m_settlingRead = nullptr;
    }
}

void MprisNowPlayingSource::scheduleSettling()
{
    if (!m_isRunning || m_settlingReadsLeft <= 0 || m_settlingRead || m_settlingTimer.isActive())
        return;
    const ContinuousInstant due = m_lineStart + settlingSpacing * (settlingReads - m_settlingReadsLeft);
    m_settlingTimer.start(int(std::max<qint64>(0, (due - m_clock->now()).count() / 1'000'000)));
}

void MprisNowPlayingSource::launchSettlingRead()
{
    if (!m_isRunning || m_settlingReadsLeft <= 0 || m_settlingRead)
        return;
    const quint64 generation = m_signalGeneration;
    launch(m_settlingRead, {QStringLiteral("--watch"), QString::number(settlingWatch.count())},
           [this, generation](const MprisReaderProcess::Outcome &outcome) {
               completeSettlingRead(generation, outcome);
           });
}

void MprisNowPlayingSource::completeSettlingRead(quint64 generation, const MprisReaderProcess::Outcome &outcome)
{
    if (!m_isRunning || generation != m_signalGeneration)
        return;
    --m_settlingReadsLeft;
    const MprisReaderOutput::Result parsed = parse(outcome);
    // A read that failed, or found another track, player or state, only means that something
    // changed without a signal: the next ordinary read shows what.
    if (parsed.track && parsed.read && m_estimator.refine(*parsed.read)) {
        NowPlayingTrack track = *parsed.track;
        track.elapsed = estimatedElapsed(track);
        if (movesPublishedPosition(track)) {
            m_lastYielded = track;
            m_trackPublisher.send(std::move(track));
        }
    }
    scheduleSettling();
}

bool MprisNowPlayingSource::movesPublishedPosition(const NowPlayingTrack &track) const
{
    if (!m_lastYielded || !m_lastYielded->isPlaying || !track.isPlaying || !track.sampleHostTime
        || !m_lastYielded->sampleHostTime)
        return false;
    // Where the monitor's anchor, at rate 1, puts the position at this track's instant.
    const double carried =
        m_lastYielded->elapsed + double((*track.sampleHostTime - *m_lastYielded->sampleHostTime).count()) / 1e9;
    return std::abs(track.elapsed - carried) > settlingPublishThreshold;
}
