#include "ui/design/Icon.h"

#include "core/AppLog.h"

#include <QFile>
#include <QPainter>
#include <QQuickWindow>
#include <QSvgRenderer>

namespace {
QString pathFor(const QString &name)
{
    return QStringLiteral(":/Cantorella/Design/icons/%1.svg").arg(name);
}
} // namespace

Icon::Icon(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setImplicitSize(m_size, m_size);
    setAntialiasing(true);
}

void Icon::setName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    if (!m_name.isEmpty() && !exists(m_name))
        qCWarning(lcUi) << "Icon: no symbol named" << m_name;
    rebuild();
    emit nameChanged();
}

void Icon::setSize(qreal size)
{
    if (qFuzzyCompare(size, m_size))
        return;
    m_size = size;
    setImplicitSize(m_size, m_size);
    rebuild();
    emit sizeChanged();
}

void Icon::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    rebuild();
    emit colorChanged();
}

bool Icon::exists(const QString &name)
{
    return QFile::exists(pathFor(name));
}

QImage Icon::render(const QString &name, QSize pixelSize, const QColor &color)
{
    if (name.isEmpty() || pixelSize.isEmpty())
        return {};
    QSvgRenderer svg(pathFor(name));
    if (!svg.isValid())
        return {};
    QImage image(pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Keep the symbol's aspect ratio, centred in the square.
    QSizeF box = QSizeF(svg.defaultSize()).scaled(QSizeF(pixelSize), Qt::KeepAspectRatio);
    svg.render(&p, QRectF(QPointF((pixelSize.width() - box.width()) / 2,
                                  (pixelSize.height() - box.height()) / 2), box));
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(image.rect(), color);
    return image;
}

void Icon::rebuild()
{
    const qreal dpr = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const int px = qMax(1, qRound(m_size * dpr));
    m_image = render(m_name, QSize(px, px), m_color);
    update();
}

void Icon::itemChange(ItemChange change, const ItemChangeData &value)
{
    if (change == ItemSceneChange || change == ItemDevicePixelRatioHasChanged)
        rebuild();
    QQuickPaintedItem::itemChange(change, value);
}

void Icon::paint(QPainter *painter)
{
    if (m_image.isNull())
        return;
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    const qreal side = qMin(width(), height());
    painter->drawImage(QRectF((width() - side) / 2, (height() - side) / 2, side, side), m_image);
}
