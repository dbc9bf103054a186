#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

// A capsule filled with a linear gradient from its top-left to its bottom-right corner,
// antialiased (Rectangle gradients are axis-aligned only).
class GradientCapsule : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QColor startColor READ startColor WRITE setStartColor NOTIFY colorsChanged)
    Q_PROPERTY(QColor endColor READ endColor WRITE setEndColor NOTIFY colorsChanged)

public:
    explicit GradientCapsule(QQuickItem *parent = nullptr);

    QColor startColor() const { return m_start; }
    void setStartColor(const QColor &c);
    QColor endColor() const { return m_end; }
    void setEndColor(const QColor &c);

    void paint(QPainter *painter) override;
    static void paintCapsule(QPainter *painter, const QRectF &rect, const QColor &start, const QColor &end);

protected:
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *data) override;

signals:
    void colorsChanged();

private:
    QColor m_start;
    QColor m_end;
};
