#include "ui/library/ShareCardPreview.h"

#include "ui/library/ShareCardLayout.h"

#include <QPainter>

ShareCardPreview::ShareCardPreview(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    setImplicitSize(ShareCardLayout::canvasSide, ShareCardLayout::canvasSide);
}

void ShareCardPreview::setImage(const QImage &image)
{
    m_image = image;
    emit imageChanged();
    update();
}

double ShareCardPreview::cardScale() const
{
    return std::min(width(), height()) / ShareCardLayout::canvasSide;
}

QRectF ShareCardPreview::cardRect(QSizeF itemSize)
{
    const double side = std::min(itemSize.width(), itemSize.height());
    return QRectF((itemSize.width() - side) / 2, (itemSize.height() - side) / 2, side, side);
}

void ShareCardPreview::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size()) {
        emit cardScaleChanged();
        update();
    }
}

void ShareCardPreview::paint(QPainter *painter)
{
    if (m_image.isNull())
        return;
    const QRectF card = cardRect(size());
    const double scale = card.width() / ShareCardLayout::canvasSide;
    painter->setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    // Shadow: black 0.5, radius 24, 14 down (in card points), as widening translucent squares.
    painter->setPen(Qt::NoPen);
    const QRectF shadow = card.translated(0, 14 * scale);
    constexpr int steps = 8;
    for (int i = steps; i >= 1; --i) {
        const double grow = 24.0 * scale * i / steps;
        painter->setBrush(QColor::fromRgbF(0, 0, 0, float(0.5 / steps)));
        painter->drawRect(shadow.adjusted(-grow / 2, -grow / 2, grow / 2, grow / 2));
    }
    painter->drawImage(card, m_image);
}
