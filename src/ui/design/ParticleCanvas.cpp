#include "ui/design/ParticleCanvas.h"

#include "ui/design/Theme.h"

#include <QPainter>
#include <QSGGeometryNode>
#include <QSGVertexColorMaterial>

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

std::vector<ParticleDot> ParticleCanvas::dotsAt(QSizeF size, double t, const std::vector<Particle> &particles)
{
    const double w = size.width(), h = size.height();
    std::vector<ParticleDot> dots;
    dots.reserve(particles.size());
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
        dots.push_back({QPointF(x, y), rc, Theme::withAlpha(p.hue, alpha * alpha)});
    }
    return dots;
}

void ParticleCanvas::drawParticles(QPainter &painter, QSizeF size, double t, const std::vector<Particle> &particles)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (const ParticleDot &dot : dotsAt(size, t, particles)) {
        painter.setBrush(dot.color);
        painter.drawEllipse(dot.centre, dot.radius, dot.radius);
    }
    painter.restore();
}

namespace {

// Each disc: a centre, an inner ring half a pixel inside the edge in the full colour and an
// outer ring half a pixel outside it, transparent: the one-pixel ramp between them is the
// antialiased edge. 16 segments keep the largest dot (6.6 points) within 0.13 of a circle.
constexpr int discSegments = 16;
constexpr int discVertices = 1 + 2 * discSegments;
constexpr int discIndices = 9 * discSegments;

// 16-bit indices: at most this many discs in one node.
constexpr size_t maxDiscs = 65535 / discVertices;

void fillDiscs(QSGGeometry *geometry, std::vector<ParticleDot> dots)
{
    if (dots.size() > maxDiscs)
        dots.resize(maxDiscs);
    geometry->allocate(int(dots.size()) * discVertices, int(dots.size()) * discIndices);
    auto *vertex = geometry->vertexDataAsColoredPoint2D();
    quint16 *index = geometry->indexDataAsUShort();
    quint16 base = 0;
    for (const ParticleDot &dot : dots) {
        const float a = float(dot.color.alphaF());
        // Premultiplied, as the vertex-colour material expects.
        const auto r = uchar(std::lround(dot.color.redF() * a * 255)), g = uchar(std::lround(dot.color.greenF() * a * 255)),
                   b = uchar(std::lround(dot.color.blueF() * a * 255)), alpha = uchar(std::lround(a * 255));
        const float cx = float(dot.centre.x()), cy = float(dot.centre.y());
        const float inner = float(std::max(0.0, dot.radius - 0.5)), outer = float(dot.radius + 0.5);
        (vertex++)->set(cx, cy, r, g, b, alpha);
        for (int i = 0; i < discSegments; ++i) {
            const double angle = 2 * M_PI * i / discSegments;
            const float c = float(std::cos(angle)), s = float(std::sin(angle));
            (vertex++)->set(cx + inner * c, cy + inner * s, r, g, b, alpha);
            (vertex++)->set(cx + outer * c, cy + outer * s, 0, 0, 0, 0);
        }
        for (int i = 0; i < discSegments; ++i) {
            const int next = (i + 1) % discSegments;
            const quint16 in0 = base + 1 + 2 * i, out0 = in0 + 1;
            const quint16 in1 = base + 1 + 2 * next, out1 = in1 + 1;
            for (quint16 v : {base, in0, in1, in0, out0, in1, in1, out0, out1})
                *index++ = v;
        }
        base += discVertices;
    }
}

} // namespace

ParticleCanvas::ParticleCanvas(QQuickItem *parent)
    : QQuickItem(parent)
{
    setFlag(ItemHasContents);
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
    QQuickItem::componentComplete();
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
        m_tickConnection = m_clock->connectSteps(this, [this](double now) { showTime(now); });
        m_clock->hold(this, FrameClock::Pace::Ambient);
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

void ParticleCanvas::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        update();
}

QSGNode *ParticleCanvas::updatePaintNode(QSGNode *old, UpdatePaintNodeData *)
{
    std::vector<ParticleDot> dots = dotsAt(size(), m_time, m_particles);
    if (dots.empty()) {
        delete old;
        return nullptr;
    }
    auto *node = static_cast<QSGGeometryNode *>(old);
    if (!node) {
        node = new QSGGeometryNode;
        auto *geometry = new QSGGeometry(QSGGeometry::defaultAttributes_ColoredPoint2D(), 0, 0,
                                         QSGGeometry::UnsignedShortType);
        geometry->setDrawingMode(QSGGeometry::DrawTriangles);
        node->setGeometry(geometry);
        node->setFlag(QSGNode::OwnsGeometry);
        node->setMaterial(new QSGVertexColorMaterial);
        node->setFlag(QSGNode::OwnsMaterial);
    }
    fillDiscs(node->geometry(), std::move(dots));
    node->markDirty(QSGNode::DirtyGeometry);
    return node;
}
