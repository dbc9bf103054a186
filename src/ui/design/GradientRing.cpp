#include "ui/design/GradientRing.h"

#include <QSGGeometryNode>
#include <QSGVertexColorMaterial>

#include <array>
#include <cmath>

namespace {

constexpr int cornerSegments = 8; // per quarter circle
constexpr int edgeSegments = 12;  // per straight edge: the gradient's middle stop falls inside one
constexpr int contourPoints = 4 * (cornerSegments + 1) + 4 * (edgeSegments - 1);

// The points of a rounded rectangle inset by `inset` from (0, 0, w, h), clockwise from the
// top-left corner's end; every contour has the same count, so neighbours join point by point.
void contour(qreal w, qreal h, qreal radius, qreal inset, std::array<QPointF, contourPoints> &out)
{
    const QRectF box(inset, inset, std::max<qreal>(0, w - 2 * inset), std::max<qreal>(0, h - 2 * inset));
    // A radius past half the shorter side makes a capsule, as a Rectangle's does.
    const qreal r = std::clamp<qreal>(radius - inset, 0, std::min(box.width(), box.height()) / 2);
    // Corner centres and start angles: top-right, bottom-right, bottom-left, top-left.
    const QPointF centres[4] = {{box.right() - r, box.top() + r}, {box.right() - r, box.bottom() - r},
                                {box.left() + r, box.bottom() - r}, {box.left() + r, box.top() + r}};
    int at = 0;
    for (int corner = 0; corner < 4; ++corner) {
        const QPointF previousEnd = corner == 0 ? QPointF(box.left() + r, box.top())
                                                : out[at - 1];
        const qreal start = -M_PI / 2 + corner * M_PI / 2;
        const QPointF first(centres[corner].x() + r * std::cos(start), centres[corner].y() + r * std::sin(start));
        for (int i = 1; i < edgeSegments; ++i)
            out[at++] = previousEnd + (first - previousEnd) * (qreal(i) / edgeSegments);
        for (int i = 0; i <= cornerSegments; ++i) {
            const qreal angle = start + (M_PI / 2) * i / cornerSegments;
            out[at++] = {centres[corner].x() + r * std::cos(angle), centres[corner].y() + r * std::sin(angle)};
        }
    }
}

} // namespace

GradientRing::GradientRing(QQuickItem *parent)
    : QQuickItem(parent), m_colors{Qt::white, Qt::white, Qt::white}
{
    setFlag(ItemHasContents);
}

void GradientRing::setRadius(qreal radius)
{
    if (qFuzzyCompare(m_radius, radius))
        return;
    m_radius = radius;
    update();
    emit shapeChanged();
}

void GradientRing::setBorderWidth(qreal width)
{
    if (qFuzzyCompare(m_borderWidth, width))
        return;
    m_borderWidth = width;
    update();
    emit shapeChanged();
}

void GradientRing::setColor(int stop, const QColor &color)
{
    if (m_colors[stop] == color)
        return;
    m_colors[stop] = color;
    update();
    emit colorsChanged();
}

QColor GradientRing::colorAt(qreal t) const
{
    t = std::clamp<qreal>(t, 0, 1);
    const int from = t < 0.5 ? 0 : 1;
    const qreal f = (t - from * 0.5) * 2;
    const QColor &a = m_colors[from];
    const QColor &b = m_colors[from + 1];
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * f, a.greenF() + (b.greenF() - a.greenF()) * f,
                            a.blueF() + (b.blueF() - a.blueF()) * f, a.alphaF() + (b.alphaF() - a.alphaF()) * f);
}

void GradientRing::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size())
        update();
}

QSGNode *GradientRing::updatePaintNode(QSGNode *old, UpdatePaintNodeData *)
{
    const qreal w = width();
    const qreal h = height();
    if (w <= 0 || h <= 0 || m_borderWidth <= 0) {
        delete old;
        return nullptr;
    }
    // Four contours: the outer fringe (transparent), the border's outer and inner edges, the
    // inner fringe (transparent); half a pixel of fringe on each side antialiases the edges. A
    // border thinner than a pixel is drawn a pixel wide at its coverage.
    const qreal b = m_borderWidth;
    const qreal coverage = std::min<qreal>(1, b);
    const std::array<qreal, 4> insets = b >= 1 ? std::array<qreal, 4>{-0.5, 0.5, b - 0.5, b + 0.5}
                                               : std::array<qreal, 4>{b / 2 - 0.5, b / 2, b / 2, b / 2 + 0.5};
    const std::array<qreal, 4> alphas{0, coverage, coverage, 0};

    auto *node = static_cast<QSGGeometryNode *>(old);
    if (!node) {
        node = new QSGGeometryNode;
        auto *geometry = new QSGGeometry(QSGGeometry::defaultAttributes_ColoredPoint2D(), 4 * contourPoints,
                                         3 * contourPoints * 6, QSGGeometry::UnsignedShortType);
        geometry->setDrawingMode(QSGGeometry::DrawTriangles);
        node->setGeometry(geometry);
        node->setFlag(QSGNode::OwnsGeometry);
        node->setMaterial(new QSGVertexColorMaterial);
        node->setFlag(QSGNode::OwnsMaterial);
        quint16 *index = geometry->indexDataAsUShort();
        for (int ring = 0; ring < 3; ++ring) {
            for (int i = 0; i < contourPoints; ++i) {
                const int j = (i + 1) % contourPoints;
                const auto a = quint16(ring * contourPoints + i), b2 = quint16(ring * contourPoints + j);
                const auto c = quint16((ring + 1) * contourPoints + i), d = quint16((ring + 1) * contourPoints + j);
                *index++ = a; *index++ = b2; *index++ = c;
                *index++ = b2; *index++ = d; *index++ = c;
            }
        }
    }
    QSGGeometry::ColoredPoint2D *v = node->geometry()->vertexDataAsColoredPoint2D();
    std::array<QPointF, contourPoints> points;
    for (int k = 0; k < 4; ++k) {
        contour(w, h, m_radius, insets[k], points);
        for (const QPointF &p : points) {
            // Along the diagonal in the item's normalised coordinates: the line from the
            // bottom-left to the top-right corner is the middle colour.
            const QColor c = colorAt((p.x() / w + p.y() / h) / 2);
            const qreal a = c.alphaF() * alphas[k];
            // The material takes premultiplied colours.
            v++->set(float(p.x()), float(p.y()), uchar(std::lround(c.redF() * a * 255)),
                     uchar(std::lround(c.greenF() * a * 255)), uchar(std::lround(c.blueF() * a * 255)),
                     uchar(std::lround(a * 255)));
        }
    }
    node->markDirty(QSGNode::DirtyGeometry);
    return node;
}
