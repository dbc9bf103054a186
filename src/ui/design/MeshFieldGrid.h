#pragma once

#include <QColor>
#include <QPointF>
#include <QQuickItem>
#include <QSizeF>
#include <QtQml/qqmlregistration.h>

#include <array>

namespace MeshGradient {
// The field at rest at `p` (logical pixels on a view of `viewSize`), composited over the opaque
// `backdrop`: four radial glows (colour at 0.85 in the centre, 0 at the end radius) laid back to
// front, softened as if blurred with a Gaussian of radius 60, faded across the view's edges as a
// blur fades them there, and saturated ×1.4 on the un-premultiplied colour. Opaque.
QColor fieldColorAt(QPointF p, QSizeF viewSize, const std::array<QColor, 4> &glows, const QColor &backdrop);
} // namespace MeshGradient

// The mesh field drawn as an opaque grid of vertex colours, `cellSize` apart, each the field's
// colour at that point; the renderer interpolates between them. The field is smooth at the scale
// of a cell (its narrowest feature, the edge fade, spans ~100 px), so the grid shows it as a
// texture would, for the cost of a flat fill: no texture is sampled, nothing below is blended.
// The item may reach beyond the view (the drift's overscan): `viewOrigin` is where the view's
// top-left corner lies in the item. The grid is built when its size or colours change; moving or
// scaling the item moves it as a whole. The software renderer draws no custom geometry.
class MeshFieldGrid : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QPointF viewOrigin READ viewOrigin WRITE setViewOrigin NOTIFY fieldChanged)
    Q_PROPERTY(QSizeF viewSize READ viewSize WRITE setViewSize NOTIFY fieldChanged)
    Q_PROPERTY(QColor glow1 READ glow1 WRITE setGlow1 NOTIFY fieldChanged)
    Q_PROPERTY(QColor glow2 READ glow2 WRITE setGlow2 NOTIFY fieldChanged)
    Q_PROPERTY(QColor glow3 READ glow3 WRITE setGlow3 NOTIFY fieldChanged)
    Q_PROPERTY(QColor glow4 READ glow4 WRITE setGlow4 NOTIFY fieldChanged)
    Q_PROPERTY(QColor backdrop READ backdrop WRITE setBackdrop NOTIFY fieldChanged)

public:
    static constexpr double cellSize = 12;

    explicit MeshFieldGrid(QQuickItem *parent = nullptr);

    QPointF viewOrigin() const { return m_viewOrigin; }
    void setViewOrigin(QPointF origin);
    QSizeF viewSize() const { return m_viewSize; }
    void setViewSize(QSizeF size);
    QColor glow1() const { return m_glows[0]; }
    void setGlow1(const QColor &c) { setGlow(0, c); }
    QColor glow2() const { return m_glows[1]; }
    void setGlow2(const QColor &c) { setGlow(1, c); }
    QColor glow3() const { return m_glows[2]; }
    void setGlow3(const QColor &c) { setGlow(2, c); }
    QColor glow4() const { return m_glows[3]; }
    void setGlow4(const QColor &c) { setGlow(3, c); }
    QColor backdrop() const { return m_backdrop; }
    void setBackdrop(const QColor &c);

signals:
    void fieldChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override;
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;

private:
    void setGlow(int i, const QColor &c);
    void invalidate();

    QPointF m_viewOrigin;
    QSizeF m_viewSize;
    std::array<QColor, 4> m_glows{Qt::black, Qt::black, Qt::black, Qt::black};
    QColor m_backdrop = Qt::black;
    bool m_dirty = true;
};
