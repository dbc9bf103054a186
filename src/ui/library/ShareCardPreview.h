#pragma once

#include <QImage>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

// The sheet's preview: the exported card picture itself, scaled by min(w, h) / 600 and centred,
// over a soft dark shadow. Showing the export's own pixels keeps preview and file identical.
class ShareCardPreview : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QImage image READ image WRITE setImage NOTIFY imageChanged)
    Q_PROPERTY(double cardScale READ cardScale NOTIFY cardScaleChanged)

public:
    explicit ShareCardPreview(QQuickItem *parent = nullptr);

    QImage image() const { return m_image; }
    void setImage(const QImage &image);
    double cardScale() const;
    // Where the card lands in an item of the given size.
    static QRectF cardRect(QSizeF itemSize);

    void paint(QPainter *painter) override;

signals:
    void imageChanged();
    void cardScaleChanged();

protected:
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;

private:
    QImage m_image;
};
