#include "ui/design/MeshFieldGrid.h"

#include <QSGGeometryNode>
#include <QSGVertexColorMaterial>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kSigma = 30.0; // blur radius 60 taken as two standard deviations
constexpr double kGlowOpacity = 0.85;
constexpr double kSaturation = 1.4;

// Standard normal CDF (logistic approximation) and density.
double cdf(double u) { return 1.0 / (1.0 + std::exp(-1.702 * u)); }
double pdf(double u) { return 0.3989423 * std::exp(-0.5 * u * u); }
// The ramp max(x, 0) convolved with the Gaussian.
double softRamp(double x)
{
    const double u = x / kSigma;
    return kSigma * (u * cdf(u) + pdf(u));
}
// The linear falloff 1 − d/R (clamped to [0, 1]) convolved with the Gaussian along d.
double falloff(double d, double radius)
{
    return std::clamp((softRamp(radius - d) - softRamp(-d)) / radius, 0.0, 1.0);
}

struct Premultiplied
{
    double r = 0, g = 0, b = 0, a = 0;
    void over(const QColor &c, double alpha)
    {
        r = c.redF() * alpha + r * (1 - alpha);
        g = c.greenF() * alpha + g * (1 - alpha);
        b = c.blueF() * alpha + b * (1 - alpha);
        a = alpha + a * (1 - alpha);
    }
};

} // namespace

QColor MeshGradient::fieldColorAt(QPointF p, QSizeF view, const std::array<QColor, 4> &glows, const QColor &backdrop)
{
    struct Glow { double cx, cy, radius; };
    static constexpr Glow placed[4] = {{0.30, 0.30, 330}, {0.75, 0.60, 330}, {0.50, 0.90, 360}, {0.85, 0.80, 300}};
    Premultiplied acc;
    for (int i = 0; i < 4; ++i) {
        const double d = std::hypot(p.x() - placed[i].cx * view.width(), p.y() - placed[i].cy * view.height());
        acc.over(glows[size_t(i)], kGlowOpacity * falloff(d, placed[i].radius));
    }
    // Beyond the view's edges the blur sees transparency: the field fades softly across them.
    const double edge = cdf(p.x() / kSigma) * cdf((view.width() - p.x()) / kSigma) * cdf(p.y() / kSigma)
                        * cdf((view.height() - p.y()) / kSigma);
    acc.r *= edge;
    acc.g *= edge;
    acc.b *= edge;
    acc.a *= edge;
    if (acc.a > 0.0001) {
        double c[3] = {acc.r / acc.a, acc.g / acc.a, acc.b / acc.a};
        const double luma = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
        for (double &v : c)
            v = std::clamp(luma + (v - luma) * kSaturation, 0.0, 1.0) * acc.a;
        acc.r = c[0];
        acc.g = c[1];
        acc.b = c[2];
    }
    const double rest = 1 - acc.a;
    return QColor::fromRgbF(float(acc.r + backdrop.redF() * rest), float(acc.g + backdrop.greenF() * rest),
                            float(acc.b + backdrop.blueF() * rest), 1.0f);
}

MeshFieldGrid::MeshFieldGrid(QQuickItem *parent) : QQuickItem(parent)
{
    setFlag(ItemHasContents);
}

void MeshFieldGrid::setViewOrigin(QPointF origin)
{
    if (origin == m_viewOrigin)
        return;
    m_viewOrigin = origin;
    invalidate();
}

void MeshFieldGrid::setViewSize(QSizeF size)
{
    if (size == m_viewSize)
        return;
    m_viewSize = size;
    invalidate();
}

void MeshFieldGrid::setGlow(int i, const QColor &c)
{
    if (m_glows[size_t(i)] == c)
        return;
    m_glows[size_t(i)] = c;
    invalidate();
}

void MeshFieldGrid::setBackdrop(const QColor &c)
{
    if (c == m_backdrop)
        return;
    m_backdrop = c;
    invalidate();
}

void MeshFieldGrid::invalidate()
{
    m_dirty = true;
    emit fieldChanged();
    update();
}

void MeshFieldGrid::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size()) {
        m_dirty = true;
        update();
    }
}

QSGNode *MeshFieldGrid::updatePaintNode(QSGNode *old, UpdatePaintNodeData *)
{
    auto *node = static_cast<QSGGeometryNode *>(old);
    if (width() <= 0 || height() <= 0) {
        delete node;
        return nullptr;
    }
    if (!node) {
        node = new QSGGeometryNode;
        auto *material = new QSGVertexColorMaterial;
        // Every colour is opaque: drawn without blending, it also hides what lies below.
        material->setFlag(QSGMaterial::Blending, false);
        node->setMaterial(material);
        node->setFlag(QSGNode::OwnsMaterial);
        m_dirty = true;
    }
    if (!m_dirty)
        return node;
    m_dirty = false;

    const int columns = std::max(1, int(std::ceil(width() / cellSize)));
    const int rows = std::max(1, int(std::ceil(height() / cellSize)));
    auto *geometry = new QSGGeometry(QSGGeometry::defaultAttributes_ColoredPoint2D(), (columns + 1) * (rows + 1),
                                     columns * rows * 6, QSGGeometry::UnsignedIntType);
    geometry->setDrawingMode(QSGGeometry::DrawTriangles);
    auto *vertices = geometry->vertexDataAsColoredPoint2D();
    for (int row = 0; row <= rows; ++row) {
        const double y = std::min(height(), row * cellSize);
        for (int column = 0; column <= columns; ++column) {
            const double x = std::min(width(), column * cellSize);
            const QColor c = MeshGradient::fieldColorAt(QPointF(x, y) - m_viewOrigin, m_viewSize, m_glows, m_backdrop);
            vertices++->set(float(x), float(y), uchar(c.red()), uchar(c.green()), uchar(c.blue()), 255);
        }
    }
    quint32 *indices = geometry->indexDataAsUInt();
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            const quint32 topLeft = quint32(row * (columns + 1) + column);
            const quint32 bottomLeft = topLeft + quint32(columns + 1);
            for (quint32 index : {topLeft, topLeft + 1, bottomLeft, topLeft + 1, bottomLeft + 1, bottomLeft})
                *indices++ = index;
        }
    node->setGeometry(geometry);
    node->setFlag(QSGNode::OwnsGeometry);
    node->markDirty(QSGNode::DirtyGeometry | QSGNode::DirtyMaterial);
    return node;
}
