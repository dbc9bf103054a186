#pragma once

#include "platform/Async.h"
#include "platform/Clock.h"
#include "session/nowplaying/MprisReaderProcess.h"
#include "session/nowplaying/NowPlayingSource.h"
#include "session/nowplaying/NowPlayingTrack.h"
#include "session/nowplaying/PositionEstimator.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <optional>

namespace MprisReaderOutput {
struct Result;
}

struct MprisNowPlayingSourceOptions
{
    // Empty: $CANTORELLA_NOWPLAYING_READER, else nowplaying-reader next to the application, else
    // the installed one in libexec/cantorella/ beside the application's bin/.
    QString readerPath;
    // Where the player signals are watched; absent: the session bus. The reader itself
    // always asks the session bus of its environment.
    std::optional<QDBusConnection> bus;
    std::chrono::milliseconds pollInterval{2000};
    ContinuousClock *clock = nullptr; // absent: the system clock
};

// What the MPRIS players on the session bus are playing. Each read runs nowplaying-reader as a
// child process; reads never overlap, and requests made during a read fold into one more read.
// Reads are requested at start, every poll interval, and whenever a player signals a change of
// track, playback status or rate, a seek, or appears or leaves the bus. Main-thread object:
// start() and stop() are called on its thread.
//
// A sample's position is where the player really was at the sample's instant, not what it last
// reported: a PositionEstimator places the player's position line from all its reads since the
// last discontinuity. When a line begins while playing, a few settling reads follow, spread over
// the next second; each watches the position until it moves (nowplaying-reader --watch), which
// shows whether the player holds its position between steps and where a step fell. They run
// beside the ordinary reads, are dropped when a player signals, and put a sample on the stream
// only when they move the position by more than settlingPublishThreshold.
class MprisNowPlayingSource final : public QObject, public NowPlayingSource
{
    Q_OBJECT
public:
    using Options = MprisNowPlayingSourceOptions;

    explicit MprisNowPlayingSource(Options options = {}, QObject *parent = nullptr);
    ~MprisNowPlayingSource() override;

    Channel<std::optional<NowPlayingTrack>> trackPublisher() const override { return m_trackPublisher; }
    // Subscribes to the player signals, starts the poll and reads once at once. A source that
    // has been stopped is never started again.
    void start() override;
    // Unsubscribes, stops the poll and finishes the stream; a read still running is dropped.
    void stop() override;

    QString readerPath() const { return m_readerPath; }
    static QString defaultReaderPath();

    // Reads slower than this are logged.
    static constexpr std::chrono::milliseconds slowReadThreshold{500};

    static constexpr int settlingReads = 3;
    static constexpr std::chrono::milliseconds settlingSpacing{350};
    // How long one settling read watches for a step; the slowest players step about once a second.
    static constexpr std::chrono::milliseconds settlingWatch{1200};
    static constexpr double settlingPublishThreshold = 0.004; // seconds

private Q_SLOTS:
    void onPropertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);
    void onSeeked(qlonglong position);
    void onNameOwnerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);

private:
    void requestRead();
    // Runs the reader with `arguments`; `slot` holds the run until it reports to `done`.
    void launch(QPointer<MprisReaderProcess> &slot, const QStringList &arguments,
                std::function<void(const MprisReaderProcess::Outcome &)> done);
    void completeRead(const MprisReaderProcess::Outcome &outcome, bool seeked);
    void unsubscribe();
    // A player signalled: settling reads under way may have read the state before the change.
    void noteSignal();
    MprisReaderOutput::Result parse(const MprisReaderProcess::Outcome &outcome) const;
    // The track with its position taken from the line `read` belongs to.
    NowPlayingTrack follow(NowPlayingTrack track, const std::optional<PositionRead> &read, bool seeked);
    double estimatedElapsed(const NowPlayingTrack &track) const;

    void startSettling();
    void stopSettling();
    void scheduleSettling();
    void launchSettlingRead();
    void completeSettlingRead(quint64 generation, const MprisReaderProcess::Outcome &outcome);
    bool movesPublishedPosition(const NowPlayingTrack &track) const;

    Channel<std::optional<NowPlayingTrack>> m_trackPublisher;
    QDBusConnection m_bus;
    bool m_subscribed = false;
    QTimer m_pollingTimer;
    std::optional<NowPlayingTrack> m_lastYielded;
    QPointer<MprisReaderProcess> m_currentRead;
    bool m_isFetchInFlight = false;
    bool m_pendingFetch = false;
    bool m_isRunning = false;
    bool m_isStopped = false;
    QString m_readerPath;
    ContinuousClock *m_clock;

    PositionEstimator m_estimator;
    bool m_seekedSinceLaunch = false; // a seek was announced after the latest read was launched
    quint64 m_signalGeneration = 0;   // counts player signals
    QPointer<MprisReaderProcess> m_settlingRead;
    QTimer m_settlingTimer;
    int m_settlingReadsLeft = 0;
    ContinuousInstant m_lineStart; // settling read k is due settlingSpacing × k after this
};
