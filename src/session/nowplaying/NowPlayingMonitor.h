#pragma once

#include "platform/Async.h"
#include "platform/Cancellation.h"
#include "platform/Clock.h"
#include "session/nowplaying/NowPlayingSource.h"
#include "session/nowplaying/NowPlayingTrack.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

// Reads the source's samples, remembers the latest one with its anchor, and republishes every
// sample on `tracks`. Main-thread object; `ingest` runs to completion without waiting, so its
// effects never interleave.
class NowPlayingMonitor : public QObject
{
    Q_OBJECT
public:
    explicit NowPlayingMonitor(std::unique_ptr<NowPlayingSource> source,
                               ContinuousClock *clock = ContinuousClock::system(), QObject *parent = nullptr);
    ~NowPlayingMonitor() override;

    // The republished samples, in the source's order; unbounded. Finished by stop().
    Channel<std::optional<NowPlayingTrack>> tracks() const { return m_tracks; }
    // Anchor of the latest present sample; absent before the first one and after an absent one.
    std::optional<SampleAnchor> anchor() const { return m_anchor; }
    std::optional<NowPlayingTrack> lastTrack() const { return m_lastTrack; }

    // Starts the source and the task that feeds its values to ingest(). Call once.
    void start();
    // Ends the reading task, stops the source and finishes `tracks` (a consumer still gets the
    // values already buffered).
    void stop();
    // Records one sample: last track, then anchor, then the signpost, then the value goes out.
    void ingest(std::optional<NowPlayingTrack> track);

private:
    static QCoro::Task<void> readSource(QPointer<NowPlayingMonitor> self,
                                        Channel<std::optional<NowPlayingTrack>> stream, CancellationToken token);

    Channel<std::optional<NowPlayingTrack>> m_tracks;
    std::optional<SampleAnchor> m_anchor;
    std::unique_ptr<NowPlayingSource> m_source;
    std::optional<NowPlayingTrack> m_lastTrack;
    std::optional<CancellationToken> m_sourceTask; // cancels the reading task
    ContinuousClock *m_clock;
};
