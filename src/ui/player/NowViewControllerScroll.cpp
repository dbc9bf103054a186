#include "NowViewController.h"

#include "NowViewControllerTrace.h"
#include "PlayerFormat.h"
#include "ScrollTarget.h"

// How the Now list follows playback: scrolls to the lit slot, to the first slot and back to the
// top on a restart, and the user's scrolls that pause following.

using namespace NowViewTrace;

// ---- scrolls the list starts ------------------------------------------------------------------

void NowViewController::onActiveSlotChanged(const std::optional<QString> &previous)
{
    probe().trace(QStringLiteral("NowView.onChange.activeSlotId"),
                  orNil(previous) + QStringLiteral("->") + orNil(m_activeSlotId) + QStringLiteral(" tracking=")
                      + traceBool(m_guard.isTracking()),
                  1);
    probe().setState(QStringLiteral("cards.activeSlotId"), orNil(m_activeSlotId));
    if (m_activeSlotId)
        m_lastActiveSlotId = m_activeSlotId;
    const bool automatic = !m_cardLighting || m_cardLighting->isAuto();
    if (automatic && m_guard.isTracking() && m_activeSlotId)
        programmaticScroll(*m_activeSlotId, QStringLiteral("activeSlot"), false, 0.40,
                           QStringLiteral("NowView.programmaticCardScroll.scrollTo"),
                           QStringLiteral("NowView.programmaticCardScroll.programmaticFlagReset"));
}

void NowViewController::onTrackingChanged(bool tracking)
{
    probe().trace(QStringLiteral("NowView.onChange.isTrackingCards"), traceBool(tracking), 1);
    emit changed();
    const bool automatic = !m_cardLighting || m_cardLighting->isAuto();
    if (tracking && automatic && m_activeSlotId)
        programmaticScroll(*m_activeSlotId, QStringLiteral("activeSlot"), false, 0.40,
                           QStringLiteral("NowView.programmaticCardScroll.scrollTo"),
                           QStringLiteral("NowView.programmaticCardScroll.programmaticFlagReset"));
}

void NowViewController::onFirstSlotChanged()
{
    const std::optional<QString> firstSlot = m_seen ? m_seen->firstSlotId : std::nullopt;
    probe().trace(QStringLiteral("NowView.onChange.firstSlotId"), orNil(firstSlot), 1);
    probe().setState(QStringLiteral("cards.firstSlotId"), orNil(firstSlot));
    if (firstSlot && m_guard.isTracking() && !m_activeSlotId)
        programmaticScroll(*firstSlot, {}, true, 0.30, QStringLiteral("NowView.firstSlotScroll.scrollTo"),
                           QStringLiteral("NowView.firstSlotScroll.programmaticFlagReset"));
}

void NowViewController::handleSongRestart(const std::optional<QString> &songKey, quint64 sessionId, double elapsed)
{
    if (!songKey || songKey->isEmpty())
        return;
    const bool restart = m_runtime.lastRestartSongKey == songKey
        && (m_runtime.lastRestartSessionId < sessionId
            || (m_runtime.lastRestartElapsed >= restartFromAtLeast && elapsed < restartToBelow));
    m_runtime.lastRestartElapsed = elapsed;
    m_runtime.lastRestartSessionId = sessionId;
    m_runtime.lastRestartSongKey = songKey;
    if (!restart)
        return;
    probe().trace(QStringLiteral("NowView.handleSongRestart"),
                  QStringLiteral("key=%1 elapsed=%2 session=%3").arg(*songKey).arg(elapsed, 0, 'f', 2).arg(sessionId),
                  1);
    m_lastActiveSlotId.reset();
    if (m_rows.rows().isEmpty() || !isListShown())
        return;
    // A new session of the song mid-song (its state applied again, its library restored) does not
    // start it again: the list stays on the slot lit at the position. A song that starts again
    // lights no later slot, and its list goes back to the first slot.
    // Lit at the position now (the sync passes the last snapshot's).
    const std::optional<QString> lit =
        computeActiveSlotId(m_vm ? m_vm->currentElapsed() + m_vm->effectiveOffset() : elapsed);
    const QString &first = m_rows.rows().first().slot.slotId;
    if (lit && *lit != first) {
        programmaticScroll(*lit, QStringLiteral("activeSlot"), false, 0.40,
                           QStringLiteral("NowView.programmaticCardScroll.scrollTo"),
                           QStringLiteral("NowView.programmaticCardScroll.programmaticFlagReset"));
        return;
    }
    programmaticScroll(first, QStringLiteral("songRestart"), true, 0.40,
                       QStringLiteral("NowView.handleSongRestart.scrollTo"),
                       QStringLiteral("NowView.handleSongRestart.programmaticFlagReset"));
}

void NowViewController::programmaticScroll(const QString &slotId, const QString &reason, bool alignTop,
                                           double seconds, const QString &operation, const QString &resetTrace)
{
    if (reason == QLatin1String("activeSlot")) {
        probe().trace(QStringLiteral("NowView.programmaticCardScroll"), QStringLiteral("to=") + slotId, 1);
        probe().setState(QStringLiteral("cards.lastScrollContext"),
                         QStringLiteral("viewport=%1 tracking=%2 slots=%3 session=%4")
                             .arg(PlayerFormat::traceDouble(m_viewportHeight), traceBool(m_guard.isTracking()))
                             .arg(m_slots.size())
                             .arg(m_vm ? m_vm->songSessionId() : 0));
    }
    if (!reason.isEmpty()) {
        probe().setState(QStringLiteral("cards.lastScrollTarget"), slotId);
        probe().setState(QStringLiteral("cards.lastScrollReason"), reason);
    }
    m_guard.raiseProgrammaticFlag([resetTrace, slotId] {
        probe().trace(resetTrace, QStringLiteral("to=") + slotId, 1);
    });
    m_guard.restartGuardTime();
    const quint64 op = probe().beginOperation(
        operation, QStringLiteral("to=%1 anchor=%2 animated=%3 duration=%4 reduceMotion=%5 viewport=%6")
                       .arg(slotId, alignTop ? QStringLiteral("top") : QStringLiteral("center"),
                            traceBool(!m_reduceMotion))
                       .arg(seconds, 0, 'f', 2)
                       .arg(traceBool(m_reduceMotion), PlayerFormat::traceDouble(m_viewportHeight)));
    m_lastScrollSlot = slotId;
    m_lastScrollAlignTop = alignTop;
    emit scrollToSlotRequested(slotId, alignTop, seconds, !m_reduceMotion);
    probe().endOperation(op, QStringLiteral("to=") + slotId);
}

// ---- the list's own events --------------------------------------------------------------------

void NowViewController::setViewportHeight(double height)
{
    if (height == m_viewportHeight)
        return;
    const QString h = PlayerFormat::traceDouble(height);
    const bool appearing = m_viewportHeight <= 0 && height > 0;
    if (m_viewportHeight <= 0) {
        probe().trace(QStringLiteral("NowView.viewport.onAppear"), QStringLiteral("height=") + h, 1);
        probe().setState(QStringLiteral("cards.viewportEvent"), QStringLiteral("onAppear height=") + h);
    } else {
        const QString old = PlayerFormat::traceDouble(m_viewportHeight);
        probe().trace(QStringLiteral("NowView.onChange.viewportHeight"), old + QStringLiteral("->") + h, 1);
        probe().setState(QStringLiteral("cards.viewportEvent"), QStringLiteral("changed ") + old + QStringLiteral("->") + h);
    }
    probe().setState(QStringLiteral("cards.viewportHeight"), h);
    m_viewportHeight = height;
    // A resize moves the content by itself.
    m_guard.raiseProgrammaticFlag();
    m_guard.restartGuardTime();
    // A list shown mid-song (every return to the tab) starts at the lit slot, once its rows are
    // laid out.
    if (appearing) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                const bool automatic = !m_cardLighting || m_cardLighting->isAuto();
                if (automatic && m_guard.isTracking() && m_activeSlotId)
                    programmaticScroll(*m_activeSlotId, QStringLiteral("activeSlot"), false, 0,
                                       QStringLiteral("NowView.programmaticCardScroll.scrollTo"),
                                       QStringLiteral("NowView.programmaticCardScroll.programmaticFlagReset"));
            },
            Qt::QueuedConnection);
    }
    emit changed();
}

void NowViewController::handleCardOffsetChange(double offset)
{
    probe().trace(QStringLiteral("NowView.onPreferenceChange.cardOffset"),
                  QStringLiteral("offset=%1").arg(offset, 0, 'f', 2), 40);
    probe().trace(QStringLiteral("NowView.handleCardOffsetChange"),
                  QStringLiteral("delta=%1 programmatic=%2")
                      .arg(m_guard.deltaTo(offset), 0, 'f', 2)
                      .arg(traceBool(m_guard.isProgrammaticScroll())),
                  40);
    m_guard.handleOffsetChange(offset);
}

void NowViewController::userHandledList()
{
    if (m_cardLighting)
        m_cardLighting->restartIdleTimer();
}

void NowViewController::setKeyboardFocusInside(bool inside)
{
    m_guard.setHeld(inside);
}

void NowViewController::returnToCurrentCard()
{
    m_guard.resumeTracking();
}

void NowViewController::handleContentHeightChange()
{
    if (!m_lastScrollSlot.isEmpty() && m_guard.isProgrammaticScroll())
        emit scrollToSlotRequested(m_lastScrollSlot, m_lastScrollAlignTop, 0, false);
}

double NowViewController::scrollTarget(double rowY, double rowHeight, double viewportHeight, double contentHeight,
                                       bool alignTop) const
{
    return scrollTargetOffset(rowY, rowHeight, viewportHeight, contentHeight,
                              alignTop ? ScrollAnchor::top : ScrollAnchor::center);
}

