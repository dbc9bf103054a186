#pragma once

#include "platform/Async.h"
#include "platform/Clock.h"
#include "session/nowplaying/NowPlayingSource.h"
#include "session/nowplaying/NowPlayingTrack.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <chrono>
#include <optional>

class MprisReaderProcess;

struct MprisNowPlayingSourceOptions
{
    // Empty: $CANTORELLA_NOWPLAYING_READER, else nowplaying-reader next to the application.
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

private Q_SLOTS:
    void onPropertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);
    void onSeeked(qlonglong position);
    void onNameOwnerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);

private:
    void requestRead();
    void completeRead(qint64 readMilliseconds, std::optional<NowPlayingTrack> result);
    void unsubscribe();

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
};
