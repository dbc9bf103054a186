#pragma once

#include <QColor>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

// A rounded rectangle's border, `borderWidth` wide inside the item's edge, coloured by a linear
// gradient from the top-left to the bottom-right corner through three colours (at 0, ½ and 1),
// antialiased. Drawn as one triangle mesh with vertex colours: no texture and no layer, so a
// card's border costs no memory that grows with the card's size (a masked gradient effect
// keeps two offscreen textures per card).
class GradientRing : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY shapeChanged)
    Q_PROPERTY(qreal borderWidth READ borderWidth WRITE setBorderWidth NOTIFY shapeChanged)
    Q_PROPERTY(QColor startColor READ startColor WRITE setStartColor NOTIFY colorsChanged)
    Q_PROPERTY(QColor middleColor READ middleColor WRITE setMiddleColor NOTIFY colorsChanged)
    Q_PROPERTY(QColor endColor READ endColor WRITE setEndColor NOTIFY colorsChanged)

public:
    explicit GradientRing(QQuickItem *parent = nullptr);

    qreal radius() const { return m_radius; }
    void setRadius(qreal radius);
    qreal borderWidth() const { return m_borderWidth; }
    void setBorderWidth(qreal width);
    QColor startColor() const { return m_colors[0]; }
    void setStartColor(const QColor &color) { setColor(0, color); }
    QColor middleColor() const { return m_colors[1]; }
    void setMiddleColor(const QColor &color) { setColor(1, color); }
    QColor endColor() const { return m_colors[2]; }
    void setEndColor(const QColor &color) { setColor(2, color); }

    // The gradient's colour at `t` (0 … 1, clamped) along the diagonal.
    QColor colorAt(qreal t) const;

signals:
    void shapeChanged();
    void colorsChanged();

protected:
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override;
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;

private:
    void setColor(int stop, const QColor &color);

    qreal m_radius = 0;
    qreal m_borderWidth = 1;
    QColor m_colors[3];
};
