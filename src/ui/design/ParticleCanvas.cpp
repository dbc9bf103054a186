#include "ui/design/ParticleCanvas.h"

#include "ui/design/Theme.h"

#include <QPainter>

#include <cmath>

std::vector<Particle> ParticleCanvas::makeParticles(int count, double now, QRandomGenerator &random)
{
    std::vector<Particle> particles;
    if (count <= 0)
        return particles;
    const QColor palette[] = {Theme::neonCyan(), Theme::neonViolet(), Theme::neonPink()};
    auto uniform = [&random](double lo, double hi) { return lo + (hi - lo) * random.generateDouble(); };
    particles.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        Particle p;
        const double r = uniform(0, 1);
        p.hue = r < 0.3 ? palette[0] : r < 0.7 ? palette[1] : palette[2];
        p.cycleDuration = uniform(10, 26);
        const double offset = uniform(0, p.cycleDuration);
        p.xFraction = uniform(0, 1);
        p.radius = uniform(2, 6);
        p.peakOpacity = uniform(0.25, 0.85);
        p.birthTime = now - offset;
        particles.push_back(p);
    }
    return particles;
}

void ParticleCanvas::drawParticles(QPainter &painter, QSizeF size, double t, const std::vector<Particle> &particles)
{
    const double w = size.width(), h = size.height();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (const Particle &p : particles) {
        const double phase = std::fmod(t - p.birthTime, p.cycleDuration) / p.cycleDuration;
        const double envelope = phase < 0.2 ? phase / 0.2 : 1 - (phase - 0.2) / 0.8;
        const double alpha = p.peakOpacity * envelope;
        if (!(alpha > 0.001))
            continue;
        const double x = p.xFraction * w;
        const double y = h - 2.1 * h * phase;
        const double rc = p.radius * (0.6 + 0.5 * phase);
        if (y + rc < 0 || y - rc > h || x + rc < 0 || x - rc > w)
            continue; // outside the canvas: nothing to fill
        // The layer's opacity and the colour's both carry alpha: the dot ends at alpha².
        painter.setOpacity(alpha);
        painter.setBrush(Theme::withAlpha(p.hue, alpha));
        painter.drawEllipse(QRectF(x - rc, y - rc, 2 * rc, 2 * rc));
    }
    painter.restore();
}

ParticleCanvas::ParticleCanvas(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    setFillColor(Qt::transparent);
    setAcceptedMouseButtons(Qt::NoButton);
}

ParticleCanvas::~ParticleCanvas()
{
    if (m_clock)
        m_clock->release(this);
}

void ParticleCanvas::setAnimating(bool animating)
{
    if (animating == m_animating)
        return;
    m_animating = animating;
    emit isAnimatingChanged();
    resubscribe();
}

void ParticleCanvas::setParticleCount(int count)
{
    if (count == m_count)
        return;
    if (m_made) {
        qWarning("ParticleCanvas: the particles are made once; a later particleCount is ignored");
        return;
    }
    m_count = count;
    emit particleCountChanged();
}

void ParticleCanvas::setFrameClock(FrameClock *clock)
{
    if (clock == m_clock)
        return;
    if (m_clock)
        m_clock->release(this);
    m_clock = clock;
    emit frameClockChanged();
    resubscribe();
}

void ParticleCanvas::componentComplete()
{
    QQuickPaintedItem::componentComplete();
    const ContinuousClock *clock = m_clock ? m_clock->clock() : ContinuousClock::system();
    m_particles = makeParticles(m_count, clock->now().seconds());
    m_staticNow = clock->now().seconds();
    m_made = true;
    resubscribe();
}

void ParticleCanvas::resubscribe()
{
    if (!m_made)
        return;
    disconnect(m_tickConnection);
    if (m_animating && m_clock) {
        m_tickConnection = connect(m_clock, &FrameClock::ticked, this, &ParticleCanvas::showTime);
        m_clock->hold(this);
        showTime(m_clock->now());
    } else {
        if (m_clock)
            m_clock->release(this);
        showTime(m_staticNow);
    }
}

void ParticleCanvas::showTime(double t)
{
    if (t == m_time)
        return;
    m_time = t;
    update();
    emit drawnTimeChanged();
}

void ParticleCanvas::paint(QPainter *painter)
{
    drawParticles(*painter, size(), m_time, m_particles);
}
