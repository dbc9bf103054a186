#include "ui/design/FramePacer.h"

#include <QEvent>

FramePacer::FramePacer(QWindow *window, FrameClock *clock, QObject *parent)
    : QObject(parent), m_window(window), m_clock(clock)
{
    if (!window || !clock)
        return;
    window->installEventFilter(this);
    connect(clock, &FrameClock::ticked, this, [this] {
        m_framedThisTick = false;
        releaseHeld();
    });
    const auto clockChanged = [this] {
        m_framedThisTick = false;
        if (m_clock && (!m_clock->isRunning() || !m_clock->pacesTransitions()))
            releaseHeld();
    };
    connect(clock, &FrameClock::runningChanged, this, clockChanged);
    connect(clock, &FrameClock::renderProfileChanged, this, clockChanged);
}

FramePacer::~FramePacer()
{
    if (m_window)
        m_window->removeEventFilter(this);
}

namespace {

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

} // namespace

bool FramePacer::userIsInteracting() const
{
    return m_lastInput && m_clock && m_clock->clock()->now() - *m_lastInput < interactionSpan;
}

bool FramePacer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && m_clock && isUserInput(event->type())) {
        m_lastInput = m_clock->clock()->now();
        releaseHeld();
        return false;
    }
    // A window off screen draws nothing (its next exposure draws it whole): not paced.
    if (watched != m_window || event->type() != QEvent::UpdateRequest || !m_clock
        || !m_clock->isRunning() || !m_clock->pacesTransitions() || !m_window->isExposed() || userIsInteracting())
        return false;
    if (!m_framedThisTick) {
        m_framedThisTick = true;
        return false;
    }
    m_holding = true;
    return true;
}

void FramePacer::releaseHeld()
{
    if (!m_holding)
        return;
    m_holding = false;
    if (m_window && m_window->isExposed())
        m_window->requestUpdate();
}
