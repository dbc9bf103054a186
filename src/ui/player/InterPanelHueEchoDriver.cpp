#include "InterPanelHueEchoDriver.h"

InterPanelHueEchoDriver::~InterPanelHueEchoDriver()
{
    if (m_clock)
        m_clock->release(this);
}

void InterPanelHueEchoDriver::setFrameClock(QObject *clock)
{
    auto *frameClock = qobject_cast<FrameClock *>(clock);
    if (m_clock == frameClock)
        return;
    if (m_clock)
        m_clock->release(this);
    m_clock = frameClock;
    resubscribe();
    emit inputsChanged();
}

void InterPanelHueEchoDriver::setAnimating(bool animating)
{
    if (m_animating == animating)
        return;
    m_animating = animating;
    resubscribe();
    emit inputsChanged();
}

void InterPanelHueEchoDriver::setStillElapsed(double elapsed)
{
    if (m_stillElapsed == elapsed)
        return;
    m_stillElapsed = elapsed;
    if (!m_tick)
        setElapsed(elapsed);
    emit inputsChanged();
}

void InterPanelHueEchoDriver::resubscribe()
{
    disconnect(m_tick);
    m_tick = {};
    if (m_animating && m_clock) {
        m_tick = connect(m_clock, &FrameClock::ticked, this, [this] {
            if (m_vm)
                setElapsed(m_vm->displayedElapsed());
        });
        m_clock->hold(this);
    } else {
        if (m_clock)
            m_clock->release(this);
        setElapsed(m_stillElapsed);
    }
}

void InterPanelHueEchoDriver::setElapsed(double elapsed)
{
    if (m_elapsed == elapsed)
        return;
    m_elapsed = elapsed;
    emit elapsedChanged();
}
