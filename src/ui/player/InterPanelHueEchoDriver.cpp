#include "InterPanelHueEchoDriver.h"

#include "ui/design/MeshGradient.h"

#include <cmath>

QColor InterPanelHueEchoDriver::colorAt(double elapsed)
{
    return MeshGradientPalette::colorAt(elapsed, 0.7, 0.5);
}

bool InterPanelHueEchoDriver::showsDifferently(const QColor &a, const QColor &b)
{
    const auto share = [](float channel) { return std::lround(255.0 * washOpacity * double(channel)); };
    return share(a.redF()) != share(b.redF()) || share(a.greenF()) != share(b.greenF())
        || share(a.blueF()) != share(b.blueF());
}

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
        m_tick = m_clock->connectSteps(this, [this](double) { onTick(); });
        m_clock->hold(this, FrameClock::Pace::Ambient);
    } else {
        if (m_clock)
            m_clock->release(this);
        setElapsed(m_stillElapsed);
    }
}

void InterPanelHueEchoDriver::onTick()
{
    if (!m_vm)
        return;
    const double elapsed = m_vm->displayedElapsed();
    if (showsDifferently(colorAt(elapsed), colorAt(m_elapsed)))
        setElapsed(elapsed);
}

void InterPanelHueEchoDriver::setElapsed(double elapsed)
{
    if (m_elapsed == elapsed)
        return;
    m_elapsed = elapsed;
    emit elapsedChanged();
}
