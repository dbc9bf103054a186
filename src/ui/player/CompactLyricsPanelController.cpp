#include "CompactLyricsPanelController.h"

#include "PlayerFormat.h"

#include "diagnostics/RenderLoopProbe.h"
#include "ui/design/FrameClock.h"
#include "ui/design/Motion.h"

#include <cmath>
#include <numbers>

CompactLyricsPanelController::CompactLyricsPanelController(QObject *parent)
    : QObject(parent)
{
}

CompactLyricsPanelController::~CompactLyricsPanelController()
{
    if (m_positionTask)
        m_positionTask->cancel();
    if (m_frameClock)
        m_frameClock->release(this);
}

void CompactLyricsPanelController::setVm(PlayerViewModel *vm)
{
    if (m_vm == vm)
        return;
    if (m_vm)
        m_vm->disconnect(this);
    m_vm = vm;
    if (vm) {
        auto state = [this] {
            emit stateChanged();
            traceBody();
        };
        connect(vm, &PlayerViewModel::trackChanged, this, [this] {
            emit trackChanged();
            // Every read of the player rewrites the track (its elapsed time at least). Only another
            // song, or playing versus paused, starts the row over; the rest is a position change.
            const QString key = hasTrack() ? m_vm->track()->songKey() : QString();
            if (key != m_shownSongKey || isPlaying() != m_shownPlaying || !hasTrack())
                startProgressRowOver();
            else
                followPlaybackChange();
            traceBody();
        });
        connect(vm, &PlayerViewModel::errorStateChanged, this, state);
        connect(vm, &PlayerViewModel::lyricsResultChanged, this, state);
        connect(vm, &PlayerViewModel::lyricLinesChanged, this, state);
        connect(vm, &PlayerViewModel::isLoadingLyricsChanged, this, state);
        connect(vm, &PlayerViewModel::currentSourceChanged, this, state);
        connect(vm, &PlayerViewModel::currentLanguageChanged, this, state);
        connect(vm, &PlayerViewModel::lyricsErrorDetailChanged, this, state);
        connect(vm, &PlayerViewModel::anchorChanged, this, &CompactLyricsPanelController::followPlaybackChange);
        connect(vm, &PlayerViewModel::effectiveOffsetChanged, this,
                &CompactLyricsPanelController::followPlaybackChange);
    }
    emit vmChanged();
    emit trackChanged();
    emit stateChanged();
    startProgressRowOver();
}

void CompactLyricsPanelController::startProgressRowOver()
{
    m_shownSongKey = hasTrack() ? m_vm->track()->songKey() : QString();
    m_shownPlaying = isPlaying();
    samplePosition();
    restartPositionTimer();
}

void CompactLyricsPanelController::setClocks(ClockHandle *clocks)
{
    if (m_clocks == clocks)
        return;
    m_clocks = clocks;
    const bool breathing = m_breathing;
    setBreathing(false);
    stopJoining();
    if (m_frameClock)
        disconnect(m_frameClock, &FrameClock::runningChanged, this, nullptr);
    m_frameClock = clocks ? qobject_cast<FrameClock *>(clocks->frameClock()) : nullptr;
    if (m_frameClock) {
        // A clock that stops has no tick left to join: the sample waiting for one is taken now.
        connect(m_frameClock, &FrameClock::runningChanged, this, [this] {
            if (m_joinConnection && !m_frameClock->isRunning()) {
                stopJoining();
                samplePosition();
            }
        });
    }
    setBreathing(breathing);
    emit clocksChanged();
    restartPositionTimer();
}

void CompactLyricsPanelController::setWidth(double width)
{
    if (m_width == width)
        return;
    m_width = width;
    emit widthChanged();
}

void CompactLyricsPanelController::setBreathing(bool breathing)
{
    if (m_breathing != breathing) {
        m_breathing = breathing;
        emit breathingChanged();
    }
    if (m_frameClock) {
        if (breathing) {
            if (!m_frameConnection)
                m_frameConnection =
                    m_frameClock->connectSteps(this, [this](double) { updateBreath(); });
            m_frameClock->hold(this, FrameClock::Pace::Ambient);
        } else {
            disconnect(m_frameConnection);
            m_frameConnection = {};
            m_frameClock->release(this);
        }
    }
    updateBreath();
}

void CompactLyricsPanelController::componentComplete()
{
    m_completed = true;
    restartPositionTimer();
    traceBody();
}

bool CompactLyricsPanelController::hasTrack() const
{
    return m_vm && m_vm->track();
}

bool CompactLyricsPanelController::isPlaying() const
{
    return hasTrack() && m_vm->track()->isPlaying;
}

QString CompactLyricsPanelController::title() const
{
    return hasTrack() ? m_vm->track()->title : QStringLiteral("Cantorella");
}

QString CompactLyricsPanelController::artistLine() const
{
    if (!hasTrack() || m_vm->track()->artist.isEmpty())
        return {};
    const NowPlayingTrack &track = *m_vm->track();
    return track.album.isEmpty() ? track.artist : track.artist + QStringLiteral(" · ") + track.album;
}

double CompactLyricsPanelController::duration() const
{
    return hasTrack() ? m_vm->track()->duration : 0.0;
}

QString CompactLyricsPanelController::durationText() const
{
    return PlayerFormat::timeLabel(duration());
}

QString CompactLyricsPanelController::positionText() const
{
    return PlayerFormat::timeLabel(m_position);
}

bool CompactLyricsPanelController::showsBanner() const
{
    return hasTrack() && m_vm->errorState()
        && m_vm->errorState()->kind() == CantorellaError::Kind::mediaRemoteUnavailable;
}

bool CompactLyricsPanelController::isLyricsUnavailable() const
{
    return m_vm && m_vm->errorState() && m_vm->errorState()->kind() == CantorellaError::Kind::lyricsUnavailable;
}

int CompactLyricsPanelController::lyricsArea() const
{
    if (!m_vm)
        return EmptyArea;
    if (m_vm->lyricsResult() && m_vm->lyricsResult()->isNotFound())
        return FailureArea;
    if (!m_vm->lyricLines().isEmpty())
        return LinesArea;
    return m_vm->isLoadingLyrics() ? FetchingArea : EmptyArea;
}

QString CompactLyricsPanelController::failureTitle() const
{
    return isLyricsUnavailable() ? QStringLiteral("歌词获取失败") : QStringLiteral("暂无歌词");
}

QString CompactLyricsPanelController::failureDetail() const
{
    if (!isLyricsUnavailable())
        return QStringLiteral("所有歌词源均未找到该曲目的歌词。");
    return m_vm->lyricsErrorDetail().value_or(QStringLiteral("歌词服务暂时不可用，请稍后重试。"));
}

bool CompactLyricsPanelController::showsRetry() const
{
    return isLyricsUnavailable();
}

QVariant CompactLyricsPanelController::source() const
{
    if (!m_vm || !m_vm->currentSource())
        return {};
    return rawValue(*m_vm->currentSource());
}

QVariant CompactLyricsPanelController::language() const
{
    if (!m_vm || !m_vm->currentLanguage())
        return {};
    return *m_vm->currentLanguage();
}

void CompactLyricsPanelController::followPlaybackChange()
{
    // Every read of the player brings a new anchor; most continue the position the row already
    // shows and wait for the timer. A jump (a seek, an offset change) shows at once and the
    // timer starts over from it.
    const double position = displayedPosition();
    const double sinceSample = (continuousClock()->now() - m_sampledAt).count() / 1e9;
    const double expected = m_position + sinceSample * (isPlaying() ? positionRate() : 0.0);
    if (std::abs(position - expected) < jumpThreshold)
        return;
    samplePosition();
    restartPositionTimer();
}

ContinuousClock *CompactLyricsPanelController::continuousClock() const
{
    return m_clocks ? m_clocks->continuous() : ContinuousClock::system();
}

double CompactLyricsPanelController::displayedPosition() const
{
    return m_vm ? m_vm->displayedElapsed() : 0.0;
}

void CompactLyricsPanelController::samplePosition()
{
    const double position = displayedPosition();
    m_sampledAt = continuousClock()->now();
    if (position == m_position)
        return;
    m_position = position;
    emit positionChanged();
    traceBody();
}

void CompactLyricsPanelController::traceBody()
{
    if (!m_completed)
        return;
    const QString key = hasTrack() ? m_vm->track()->songKey() : QStringLiteral("nil");
    RenderLoopProbe::shared().trace(QStringLiteral("CompactLyricsPanel.body"),
                                    QStringLiteral("track=%1 elapsed=%2").arg(key).arg(m_position, 0, 'f', 2), 20);
}

void CompactLyricsPanelController::restartPositionTimer()
{
    if (m_positionTask) {
        m_positionTask->cancel();
        m_positionTask.reset();
    }
    stopJoining();
    // A paused song's position stands still (a seek moves the anchor, which is watched).
    if (!m_completed || !isPlaying())
        return;
    CancellationToken token;
    m_positionTask = token;
    positionTimer(QPointer<CompactLyricsPanelController>(this), continuousClock(), token);
}

QCoro::Task<void> CompactLyricsPanelController::positionTimer(QPointer<CompactLyricsPanelController> self,
                                                              ContinuousClock *clock, CancellationToken token)
{
    // Each wait is measured from the position when it starts, not from the row's: while the
    // frame clock runs, the sample waits for the next tick, and a wait measured from the row's
    // previous value ended half a second later, between two seconds, moving the bar alone.
    double from = self->displayedPosition();
    while (true) {
        try {
            co_await clock->sleepFor(delayAfterSample(from, self->positionRate()), token);
        } catch (const CancelledError &) {
            co_return;
        }
        if (token.isCancelled() || !self)
            co_return;
        from = self->displayedPosition();
        self->sampleOnATick();
    }
}

namespace {

// What the lyrics show at t: the active line and how many of its words are lit.
std::pair<qsizetype, qsizetype> lyricsStepAt(const PlayerViewModel &vm, double t)
{
    const std::optional<qsizetype> line = vm.activeLineIndex(t);
    return line ? std::pair{*line, vm.revealedWordCount(*line, t)} : std::pair<qsizetype, qsizetype>{-1, 0};
}

} // namespace

void CompactLyricsPanelController::sampleOnATick()
{
    // Animated, every tick draws a frame anyway: the next one will do.
    if (m_breathing || !m_vm || !m_frameClock || !m_frameClock->isRunning()) {
        QPointer<CompactLyricsPanelController> self(this);
        FrameClock::atNextTickOf(m_frameClock, this, [self] {
            if (self)
                self->samplePosition();
        });
        return;
    }
    m_joinDeadline = m_frameClock->now() + joinLyricsWithin;
    if (!m_joinConnection)
        m_joinConnection = connect(m_frameClock, &FrameClock::ticked, this, &CompactLyricsPanelController::joinTick);
}

void CompactLyricsPanelController::joinTick(double now)
{
    // The lit words take a change on the first of their ticks after it: this tick changes the
    // lyrics when a line or word started within the last of their intervals.
    const double interval =
        std::chrono::duration<double>(FrameClock::interval(m_frameClock->renderProfile(), FrameClock::Pace::Ambient))
            .count();
    const double position = displayedPosition();
    const bool lyricsChange = m_vm
        && lyricsStepAt(*m_vm, position) != lyricsStepAt(*m_vm, position - interval * positionRate());
    // The tick nearest the deadline is the last: the one after it would be up to a tick later.
    if (!lyricsChange && now + interval / 2 < m_joinDeadline)
        return;
    stopJoining();
    samplePosition();
}

void CompactLyricsPanelController::stopJoining()
{
    disconnect(m_joinConnection);
    m_joinConnection = {};
}

std::chrono::nanoseconds CompactLyricsPanelController::delayAfterSample(double position, double rate)
{
    using namespace std::chrono;
    const nanoseconds minimum = positionInterval;
    if (!std::isfinite(position) || !(rate > 0) || !std::isfinite(rate))
        return minimum;
    // A few milliseconds past the boundary, so that a timer firing early still sees the new second.
    constexpr double margin = 0.015;
    const double untilNextSecond = (std::floor(position) + 1.0 - position) / rate + margin;
    const auto delay = duration_cast<nanoseconds>(std::chrono::duration<double>(untilNextSecond));
    return std::max(delay, minimum);
}

double CompactLyricsPanelController::positionRate() const
{
    return m_vm && m_vm->anchor() ? m_vm->anchor()->rate : 1.0;
}

void CompactLyricsPanelController::updateBreath()
{
    double scale = 1.0;
    double radius = 10.0;
    if (m_breathing && isPlaying()) {
        const double s = 0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * Motion::phase(m_vm->displayedElapsed(), 6.0));
        scale = 1.0 + 0.04 * s;
        radius = 8.0 + 4.0 * s;
    }
    if (scale == m_breathScale && radius == m_breathShadowRadius)
        return;
    m_breathScale = scale;
    m_breathShadowRadius = radius;
    emit breathChanged();
}
