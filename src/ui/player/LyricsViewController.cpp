#include "LyricsViewController.h"

#include "PlayerFormat.h"
#include "ScrollTarget.h"

#include "core/AppLog.h"
#include "diagnostics/RenderLoopProbe.h"
#include "ui/design/FrameClock.h"

#include <QClipboard>
#include <QGuiApplication>

#include <algorithm>

using PlayerFormat::traceBool;
using PlayerFormat::traceDouble;
using PlayerFormat::traceIndex;

namespace {
RenderLoopProbe &probe()
{
    return RenderLoopProbe::shared();
}
} // namespace

LyricsViewController::LyricsViewController(QObject *parent)
    : QObject(parent)
    , m_model(new LyricLinesModel(this))
{
    connect(&m_guard, &UserScrollGuard::trackingChanged, this, &LyricsViewController::onTrackingChanged);
}

LyricsViewController::~LyricsViewController()
{
    if (m_activeLineTask)
        m_activeLineTask->cancel();
    if (m_frameClock)
        m_frameClock->release(this);
}

void LyricsViewController::setVm(PlayerViewModel *vm)
{
    if (m_vm == vm)
        return;
    if (m_vm)
        m_vm->disconnect(this);
    m_vm = vm;
    if (vm) {
        connect(vm, &PlayerViewModel::lyricLinesChanged, this, &LyricsViewController::onLinesChanged);
        connect(vm, &PlayerViewModel::songSessionIdChanged, this, &LyricsViewController::onSongSessionChanged);
        connect(vm, &PlayerViewModel::trackChanged, this, &LyricsViewController::updateFrameClockHold);
        m_songSessionId = vm->songSessionId();
    }
    emit vmChanged();
    if (m_completed) {
        onLinesChanged();
        restartActiveLineTask();
    }
}

void LyricsViewController::setCardLighting(CardLightingCoordinator *lighting)
{
    if (m_cardLighting == lighting)
        return;
    m_cardLighting = lighting;
    emit cardLightingChanged();
}

void LyricsViewController::setToastCenter(ToastCenter *center)
{
    if (m_toastCenter == center)
        return;
    m_toastCenter = center;
    emit toastCenterChanged();
}

void LyricsViewController::setClocks(ClockHandle *clocks)
{
    if (m_clocks == clocks)
        return;
    if (m_frameClock)
        m_frameClock->release(this);
    m_clocks = clocks;
    m_frameClock = clocks ? qobject_cast<FrameClock *>(clocks->frameClock()) : nullptr;
    followLineOnTicks();
    m_guard.setClock(clock());
    emit clocksChanged();
    if (m_completed)
        restartActiveLineTask();
    updateFrameClockHold();
}

void LyricsViewController::setReduceMotion(bool reduceMotion)
{
    if (m_reduceMotion == reduceMotion)
        return;
    m_reduceMotion = reduceMotion;
    m_model->setReduceMotion(reduceMotion);
    emit reduceMotionChanged();
}

double LyricsViewController::topSpacerHeight() const
{
    return std::min(std::max(0.5 * m_viewportHeight, 0.0), 80.0);
}

double LyricsViewController::bottomSpacerHeight() const
{
    return std::max(0.5 * m_viewportHeight, 0.0);
}

ContinuousClock *LyricsViewController::clock() const
{
    return m_clocks ? m_clocks->continuous() : ContinuousClock::system();
}

double LyricsViewController::position() const
{
    return m_vm ? m_vm->displayedElapsed() : 0.0;
}

bool LyricsViewController::gateOpen() const
{
    return m_guard.isTracking() && (!m_cardLighting || m_cardLighting->isAuto());
}

void LyricsViewController::componentComplete()
{
    m_completed = true;
    onLinesChanged();
    restartActiveLineTask();
    updateFrameClockHold();
}

void LyricsViewController::traceBody()
{
    probe().trace(QStringLiteral("LyricsView.body"),
                  QStringLiteral("lines=%1 active=%2 tracking=%3")
                      .arg(m_model->rowCount())
                      .arg(traceIndex(m_activeLineIndex), traceBool(isTracking())),
                  20);
}

// ---- the 0.1 s sample -------------------------------------------------------------------

void LyricsViewController::restartActiveLineTask()
{
    if (m_activeLineTask)
        m_activeLineTask->cancel();
    if (!m_vm)
        return;
    CancellationToken token;
    m_activeLineTask = token;
    activeLineTask(QPointer<LyricsViewController>(this), clock(), token);
}

QCoro::Task<void> LyricsViewController::activeLineTask(QPointer<LyricsViewController> self, ContinuousClock *clock,
                                                       CancellationToken token)
{
    probe().trace(QStringLiteral("LyricsView.activeLineTask.start"),
                  QStringLiteral("session=%1").arg(self->m_vm ? self->m_vm->songSessionId() : 0));
    self->refreshActiveLineSnapshot(true);
    const std::chrono::nanoseconds interval = tickInterval;
    while (!token.isCancelled()) {
        try {
            co_await clock->sleepFor(interval, token);
        } catch (const CancelledError &) {
        }
        if (token.isCancelled() || !self)
            co_return;
        FrameClock::atNextTickOf(self->m_frameClock, self, [self] {
            if (self)
                self->refreshActiveLineSnapshot(false);
        });
    }
}

// While the frame clock runs, a new lyric line is taken on the first tick after it starts. The
// Now tab takes it on the same tick (it checks every tick too), so the lit line and the lit card
// change in one frame instead of two; the samples above wait for a tick anyway.
void LyricsViewController::followLineOnTicks()
{
    disconnect(m_lineTickConnection);
    m_lineTickConnection = {};
    if (!m_frameClock)
        return;
    m_lineTickConnection = connect(m_frameClock, &FrameClock::ticked, this, [this] {
        if (m_vm && m_completed && m_vm->activeLineIndex(position()) != m_activeLineIndex)
            refreshActiveLineSnapshot(false);
    });
}

void LyricsViewController::refreshActiveLineSnapshot(bool force)
{
    if (!m_vm)
        return;
    const double t = position();
    m_lineEffectElapsed = t;
    const std::optional<qsizetype> result = m_vm->activeLineIndex(t);
    if (!force && result == m_activeLineIndex) {
        m_model->update(m_activeLineIndex, t);
        updateLitWords();
        return;
    }
    probe().trace(QStringLiteral("LyricsView.refreshActiveLineSnapshot.publish"),
                  QStringLiteral("force=%1 old=%2 new=%3 elapsed=%4")
                      .arg(traceBool(force), traceIndex(m_activeLineIndex), traceIndex(result))
                      .arg(t, 0, 'f', 2));
    const std::optional<qsizetype> old = m_activeLineIndex;
    m_activeLineIndex = result;
    m_model->update(result, t);
    updateLitWords();
    if (old != result) {
        emit activeLineIndexChanged();
        onActiveLineIndexChanged(old);
        updateFrameClockHold();
    }
}

// ---- change handlers --------------------------------------------------------------------

void LyricsViewController::onActiveLineIndexChanged(std::optional<qsizetype> old)
{
    probe().trace(QStringLiteral("LyricsView.onChange.activeLineIndex"),
                  QStringLiteral("%1->%2 tracking=%3")
                      .arg(traceIndex(old), traceIndex(m_activeLineIndex), traceBool(isTracking())));
    probe().setState(QStringLiteral("lyrics.activeLineIndex"), traceIndex(m_activeLineIndex));
    qCDebug(lcLyricsSync, "activeLineIndex changed: %s → %s, elapsed=%.*f, tracking=%s",
            qUtf8Printable(traceIndex(old)), qUtf8Printable(traceIndex(m_activeLineIndex)), 3, position(),
            isTracking() ? "YES" : "NO");
    traceBody();
    if (!gateOpen())
        return;
    if (m_activeLineIndex)
        programmaticScroll(*m_activeLineIndex);
    else if (m_model->rowCount() > 0)
        programmaticScroll(0);
}

void LyricsViewController::onTrackingChanged(bool tracking)
{
    probe().trace(QStringLiteral("LyricsView.onChange.isTracking"),
                  QStringLiteral("%1->%2").arg(traceBool(!tracking), traceBool(tracking)));
    qCDebug(lcLyricsSync, "isTracking changed: %s → %s", tracking ? "NO" : "YES", tracking ? "YES" : "NO");
    emit isTrackingChanged();
    traceBody();
    if (tracking && m_activeLineIndex && gateOpen())
        programmaticScroll(*m_activeLineIndex);
}

void LyricsViewController::onSongSessionChanged()
{
    const quint64 old = m_songSessionId;
    m_songSessionId = m_vm ? m_vm->songSessionId() : 0;
    probe().trace(QStringLiteral("LyricsView.onChange.songSessionId"), QStringLiteral("%1->%2").arg(old).arg(m_songSessionId));
    probe().setState(QStringLiteral("lyrics.songSessionId"), QString::number(m_songSessionId));
    qCDebug(lcLyricsSync, "songSessionId changed: %llu → %llu", quint64(old), quint64(m_songSessionId));
    m_lastScrolledIdx.reset();
    m_guard.restartGuardTime();
    // A new song's session may be announced before its lines: take them now.
    onLinesChanged();
    refreshActiveLineSnapshot(true);
    if (gateOpen()) {
        if (m_activeLineIndex)
            programmaticScroll(*m_activeLineIndex);
        else if (m_model->rowCount() > 0)
            programmaticScroll(0);
    }
    restartActiveLineTask();
}

void LyricsViewController::onLinesChanged()
{
    if (!m_completed)
        return;
    const QList<SyncedLine> lines = m_vm ? m_vm->lyricLines() : QList<SyncedLine>();
    if (lines == m_model->lines() && m_model->rowCount() == lines.size())
        return;
    m_model->setLines(lines, m_activeLineIndex, m_lineEffectElapsed);
    probe().trace(QStringLiteral("LyricsView.lyricsScrollContent"),
                  QStringLiteral("lines=%1 viewport=%2").arg(lines.size()).arg(traceDouble(m_viewportHeight)), 20);
    refreshActiveLineSnapshot(false);
}

void LyricsViewController::setViewportHeight(double height)
{
    if (!(height > 0.0) || height == m_viewportHeight)
        return;
    if (!m_appeared) {
        probe().trace(QStringLiteral("LyricsView.geometry.onAppear"), QStringLiteral("height=") + traceDouble(height));
        probe().setState(QStringLiteral("lyrics.viewportHeight"), traceDouble(height));
        probe().setState(QStringLiteral("lyrics.viewportEvent"), QStringLiteral("onAppear height=") + traceDouble(height));
        m_viewportHeight = height;
        m_appeared = true;
        emit viewportHeightChanged();
        onReaderShown();
        return;
    }
    const double old = m_viewportHeight;
    probe().trace(QStringLiteral("LyricsView.geometry.heightChanged"),
                  QStringLiteral("old=%1 new=%2").arg(traceDouble(old), traceDouble(height)));
    probe().setState(QStringLiteral("lyrics.viewportHeight"), traceDouble(height));
    probe().setState(QStringLiteral("lyrics.viewportEvent"),
                     QStringLiteral("geometryChanged %1->%2").arg(traceDouble(old), traceDouble(height)));
    m_viewportHeight = height;
    m_guard.restartGuardTime();
    const QString detail = QStringLiteral("height=") + traceDouble(height);
    m_guard.raiseProgrammaticFlag(
        [detail] { probe().trace(QStringLiteral("LyricsView.geometry.programmaticFlagReset"), detail); });
    emit viewportHeightChanged();
    onViewportHeightChanged(old);
}

void LyricsViewController::onViewportHeightChanged(double old)
{
    probe().trace(QStringLiteral("LyricsView.onChange.viewportHeight"),
                  QStringLiteral("%1->%2").arg(traceDouble(old), traceDouble(m_viewportHeight)));
    probe().setState(QStringLiteral("lyrics.viewportEvent"),
                     QStringLiteral("viewportChanged %1->%2").arg(traceDouble(old), traceDouble(m_viewportHeight)));
    qCDebug(lcLyricsSync, "viewportHeight changed: %.*f → %.*f, delta=%.*f", 2, old, 2, m_viewportHeight, 2,
            m_viewportHeight - old);
    if (m_activeLineIndex && gateOpen())
        programmaticScroll(*m_activeLineIndex);
}

void LyricsViewController::onReaderShown()
{
    probe().trace(QStringLiteral("LyricsView.scrollReader.onAppear"), QStringLiteral("idx=") + traceIndex(m_activeLineIndex));
    qCDebug(lcLyricsSync, "LyricsView.onAppear, idx=%s", qUtf8Printable(traceIndex(m_activeLineIndex)));
    refreshActiveLineSnapshot(true);
    if (m_activeLineIndex && gateOpen())
        programmaticScroll(*m_activeLineIndex);
}

// ---- scrolling --------------------------------------------------------------------------

void LyricsViewController::programmaticScroll(qsizetype target)
{
    // Before the viewport is measured there is nothing to centre in; its appear scrolls.
    if (!m_appeared || target < 0 || target >= m_model->rowCount())
        return;
    const QString caller = QStringLiteral("lyricsScrollContent");
    probe().trace(QStringLiteral("LyricsView.programmaticScroll"),
                  QStringLiteral("to=%1 last=%2 caller=%3").arg(target).arg(traceIndex(m_lastScrolledIdx), caller));
    probe().setState(QStringLiteral("lyrics.lastScrollTarget"), QString::number(target));
    probe().setState(QStringLiteral("lyrics.lastScrollContext"),
                     QStringLiteral("viewport=%1 tracking=%2 lines=%3 elapsed=%4 session=%5 caller=%6")
                         .arg(traceDouble(m_viewportHeight), traceBool(isTracking()))
                         .arg(m_model->rowCount())
                         .arg(position(), 0, 'f', 2)
                         .arg(m_vm ? m_vm->songSessionId() : 0)
                         .arg(caller));
    const QString resetDetail = QStringLiteral("to=%1").arg(target);
    m_guard.raiseProgrammaticFlag([resetDetail] {
        probe().trace(QStringLiteral("LyricsView.programmaticScroll.programmaticFlagReset"), resetDetail);
    });
    const bool seekJump = !m_lastScrolledIdx || std::abs(target - *m_lastScrolledIdx) > seekJumpLines;
    qCDebug(lcLyricsSync, "programmaticScroll to=%lld, lastScrolledIdx=%s, isSeekJump=%s, elapsed=%.*f, caller=%s",
            qint64(target), qUtf8Printable(traceIndex(m_lastScrolledIdx)), seekJump ? "YES" : "NO", 3, position(),
            qUtf8Printable(caller));
    const bool snap = m_reduceMotion || seekJump;
    probe().setState(QStringLiteral("lyrics.lastScrollMode"),
                     QStringLiteral("%1 seek=%2 reduceMotion=%3")
                         .arg(snap ? QStringLiteral("snap") : QStringLiteral("animated"), traceBool(seekJump),
                              traceBool(m_reduceMotion)));
    const quint64 operation = probe().beginOperation(
        QStringLiteral("LyricsView.programmaticScroll.scrollTo"),
        QStringLiteral("to=%1 anchor=center animated=%2 snap=%3 seek=%4 viewport=%5")
            .arg(target)
            .arg(traceBool(!snap), traceBool(snap), traceBool(seekJump), traceDouble(m_viewportHeight)));
    emit scrollRequested(int(target), !snap);
    m_lastScrolledIdx = target;
    probe().endOperation(operation, resetDetail);
}

void LyricsViewController::handleOffsetChange(double offset)
{
    probe().trace(QStringLiteral("LyricsView.onPreferenceChange.scrollOffset"),
                  QStringLiteral("offset=%1").arg(offset, 0, 'f', 2), 40);
    probe().trace(QStringLiteral("LyricsView.handleOffsetChange"),
                  QStringLiteral("delta=%1 programmatic=%2")
                      .arg(m_guard.deltaTo(offset), 0, 'f', 2)
                      .arg(traceBool(m_guard.isProgrammaticScroll())),
                  40);
    m_guard.handleOffsetChange(offset);
}

void LyricsViewController::returnToCurrent()
{
    m_guard.resumeTracking();
}

double LyricsViewController::scrollTarget(double rowY, double rowHeight, double viewportHeight,
                                          double contentHeight) const
{
    return scrollTargetOffset(rowY, rowHeight, viewportHeight, contentHeight, ScrollAnchor::center);
}

void LyricsViewController::copyLine(int index)
{
    if (!m_activeLineIndex || *m_activeLineIndex != index || index >= m_model->rowCount())
        return;
    if (QClipboard *clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(m_model->lines().at(index).text);
    }
    if (m_toastCenter)
        m_toastCenter->show(QStringLiteral("已复制 / Copied"), 1.5);
}

// ---- lit words --------------------------------------------------------------------------

void LyricsViewController::updateLitWords()
{
    qsizetype pieces = 0;
    if (m_vm && m_activeLineIndex && *m_activeLineIndex < m_model->rowCount()) {
        const qsizetype lit = m_vm->revealedWordCount(*m_activeLineIndex, position());
        pieces = LyricLineRules::litPieceCount(m_model->wordsAt(*m_activeLineIndex), lit);
    }
    if (pieces == m_activeLitPieces)
        return;
    m_activeLitPieces = pieces;
    emit activeLitPiecesChanged();
}

void LyricsViewController::updateFrameClockHold()
{
    if (!m_frameClock)
        return;
    const bool playing = m_vm && m_vm->track() && m_vm->track()->isPlaying;
    if (m_completed && playing && m_activeLineIndex) {
        if (!m_frameConnection)
            m_frameConnection = m_frameClock->connectSteps(this, [this](double) { updateLitWords(); });
        m_frameClock->hold(this, FrameClock::Pace::Ambient);
    } else {
        disconnect(m_frameConnection);
        m_frameConnection = {};
        m_frameClock->release(this);
    }
}
