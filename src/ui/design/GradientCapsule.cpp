#include "ui/design/GradientCapsule.h"

#include "ui/design/Theme.h"

#include <QLinearGradient>
#include <QPainter>

GradientCapsule::GradientCapsule(QQuickItem *parent)
    : QQuickPaintedItem(parent), m_start(Theme::neonCyan()), m_end(Theme::neonViolet())
{
    setAntialiasing(true);
}

void GradientCapsule::setStartColor(const QColor &c)
{
    if (c == m_start)
        return;
    m_start = c;
    update();
    emit colorsChanged();
}

void GradientCapsule::setEndColor(const QColor &c)
{
    if (c == m_end)
        return;
    m_end = c;
    update();
    emit colorsChanged();
}

void GradientCapsule::paintCapsule(QPainter *painter, const QRectF &rect, const QColor &start,
                                   const QColor &end)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomRight());
    gradient.setColorAt(0, start);
    gradient.setColorAt(1, end);
    const qreal r = qMin(rect.width(), rect.height()) / 2;
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(gradient);
    painter->drawRoundedRect(rect, r, r);
}

// A capsule squeezed below a pixel (its row closing) has no pixels: Qt Quick would paint it into a
// null image, with warnings.
QSGNode *GradientCapsule::updatePaintNode(QSGNode *old, UpdatePaintNodeData *data)
{
    if (width() < 1 || height() < 1) {
        delete old;
        return nullptr;
    }
    return QQuickPaintedItem::updatePaintNode(old, data);
}

void GradientCapsule::paint(QPainter *painter)
{
    paintCapsule(painter, boundingRect(), m_start, m_end);
}
