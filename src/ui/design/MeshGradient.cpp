#include "ui/design/MeshGradient.h"


#include <algorithm>
#include <cmath>

double MeshGradientPalette::hueAt(double t)
{
    double r = std::fmod(t, cycleDuration);
    if (r < 0)
        r += cycleDuration;
    const double p = r / cycleDuration;
    if (p >= 0 && p <= 0.33)
        return 315 + (190 - 315) * (p / 0.33);
    if (p >= 0.33 && p <= 0.66)
        return 190 + (275 - 190) * ((p - 0.33) / 0.33);
    if (p >= 0.66 && p <= 1)
        return 275 + (315 - 275) * ((p - 0.66) / 0.34);
    return 315; // not a number
}

QColor MeshGradientPalette::colorAt(double t, double saturation, double brightness)
{
    return QColor::fromHsvF(float(hueAt(t) / 360.0), float(std::clamp(saturation, 0.0, 1.0)),
                            float(std::clamp(brightness, 0.0, 1.0)), 1.0f);
}

namespace MeshGradient {

double driftProgress(double t, double cycleDuration)
{
    double p = std::fmod(t, cycleDuration) / cycleDuration;
    if (p < 0)
        p = 0;
    else if (!(p < 1))
        p = 1; // also NaN
    return p * p * (3 - 2 * p);
}

double overscan(double width, double height, double maxDriftX, double maxDriftY, double maxScale)
{
    // At progress e the scale is s = 1 + (S − 1)e and an edge `half + m` from the centre lands at
    // (half + m)s; it still reaches the view's edge when m ≥ (half(1 − s) + |drift|e) / s. That
    // bound is monotonic in e, so e = 1 decides (e = 0 needs nothing).
    if (!(maxScale > 0))
        return 0;
    const auto needed = [maxScale](double half, double drift) {
        return (half * (1 - maxScale) + std::abs(drift)) / maxScale;
    };
    return std::max({0.0, needed(width / 2, maxDriftX), needed(height / 2, maxDriftY)});
}

QRectF driftedField(double width, double height, double margin, double maxDriftX, double maxDriftY,
                    double maxScale, double e)
{
    const double s = 1 + (maxScale - 1) * e;
    const double halfW = (width / 2 + margin) * s;
    const double halfH = (height / 2 + margin) * s;
    return QRectF(width / 2 - halfW + maxDriftX * e, height / 2 - halfH + maxDriftY * e, 2 * halfW, 2 * halfH);
}

} // namespace MeshGradient

MeshDrift::MeshDrift(QObject *parent)
    : QObject(parent)
{
}

MeshDrift::~MeshDrift()
{
    if (m_clock)
        m_clock->release(this);
}

void MeshDrift::setElapsed(double elapsed)
{
    if (elapsed == m_elapsed)
        return;
    m_elapsed = elapsed;
    emit elapsedChanged();
    if (!m_animating && !m_stillPlaced)
        stillFrame();
}

void MeshDrift::setAnimating(bool animating)
{
    if (animating == m_animating)
        return;
    m_animating = animating;
    emit isAnimatingChanged();
    m_stillPlaced = false;
    resubscribe();
    if (!m_animating)
        stillFrame();
}

void MeshDrift::setCycleDuration(double seconds)
{
    if (seconds == m_cycleDuration)
        return;
    m_cycleDuration = seconds;
    emit cycleDurationChanged();
    if (!m_animating)
        stillFrame();
}

void MeshDrift::setFrameClock(FrameClock *clock)
{
    if (clock == m_clock)
        return;
    if (m_clock)
        m_clock->release(this);
    m_clock = clock;
    emit frameClockChanged();
    resubscribe();
}

void MeshDrift::resubscribe()
{
    disconnect(m_tickConnection);
    if (!m_clock)
        return;
    if (m_animating) {
        m_tickConnection = m_clock->connectSteps(this, [this](double now) { onTick(now); });
        m_lastTick = -1e300;
        m_clock->hold(this, FrameClock::Pace::Mesh);
        onTick(m_clock->now()); // the first animated frame comes at once
    } else {
        m_clock->release(this);
    }
}

void MeshDrift::onTick(double now)
{
    if (now - m_lastTick < minimumInterval - tickSlack)
        return;
    m_lastTick = now;
    const double t = m_elapsed > 0 ? m_elapsed : now;
    setProgress(MeshGradient::driftProgress(t, m_cycleDuration));
}

void MeshDrift::stillFrame()
{
    m_stillPlaced = m_elapsed > 0;
    setProgress(m_stillPlaced ? MeshGradient::driftProgress(m_elapsed, m_cycleDuration) : 0.0);
}

void MeshDrift::setProgress(double progress)
{
    if (progress == m_progress)
        return;
    m_progress = progress;
    emit transformChanged();
}
