#include "session/nowplaying/NowPlayingMonitor.h"

#include "core/AppLog.h"

NowPlayingMonitor::NowPlayingMonitor(std::unique_ptr<NowPlayingSource> source, ContinuousClock *clock,
                                     QObject *parent)
    : QObject(parent)
    , m_source(std::move(source))
    , m_clock(clock ? clock : ContinuousClock::system())
{
}

NowPlayingMonitor::~NowPlayingMonitor()
{
    // The reading task resumes inside cancel() and ends without touching the monitor.
    if (m_sourceTask)
        m_sourceTask->cancel();
}

void NowPlayingMonitor::start()
{
    m_source->start();
    qCInfo(lcNowPlaying, "NowPlayingMonitor started");
    // A token stored before is dropped, not cancelled: start() is called once.
    CancellationToken token;
    m_sourceTask = token;
    readSource(QPointer<NowPlayingMonitor>(this), m_source->trackPublisher(), token);
}

void NowPlayingMonitor::stop()
{
    if (m_sourceTask) {
        m_sourceTask->cancel();
        m_sourceTask.reset();
    }
    m_source->stop();
    m_tracks.finish();
}

void NowPlayingMonitor::ingest(std::optional<NowPlayingTrack> track)
{
    m_lastTrack = track;
    if (track) {
        SampleAnchor anchor;
        anchor.hostTime = track->sampleHostTime.value_or(m_clock->now());
        anchor.elapsed = track->elapsed;
        anchor.rate = track->isPlaying ? 1.0 : 0.0;
        m_anchor = anchor;
        qCDebug(lcPointsOfInterest, "event MprisSampleReceived elapsed=%.3f rate=%.1f", anchor.elapsed,
                anchor.rate);
    } else {
        m_anchor.reset();
    }
    m_tracks.send(std::move(track));
}

QCoro::Task<void> NowPlayingMonitor::readSource(QPointer<NowPlayingMonitor> self,
                                                Channel<std::optional<NowPlayingTrack>> stream,
                                                CancellationToken token)
{
    if (!self)
        co_return;
    for (;;) {
        std::optional<std::optional<NowPlayingTrack>> value;
        try {
            value = co_await stream.receive(token);
        } catch (const CancelledError &) {
            co_return;
        }
        if (!self || token.isCancelled())
            co_return;
        if (!value) {
            qCInfo(lcNowPlaying, "NowPlayingMonitor source stream ended");
            co_return;
        }
        self->ingest(std::move(*value));
    }
}
