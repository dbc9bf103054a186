#pragma once

#include <QColor>
#include <QImage>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

// A symbol from the design system's own SVGs (icons/<name>.svg), drawn at `size` logical pixels
// and tinted with `color` (the SVG's shape is used as a mask). `Icon { name: "heart.fill";
// size: 14; color: Theme.neonPink }`.
class Icon : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(qreal size READ size WRITE setSize NOTIFY sizeChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)

public:
    explicit Icon(QQuickItem *parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString &name);
    qreal size() const { return m_size; }
    void setSize(qreal size);
    QColor color() const { return m_color; }
    void setColor(const QColor &color);

    void paint(QPainter *painter) override;

    // The tinted symbol as pixels (null when no such symbol exists). Shared by the item and tests.
    static QImage render(const QString &name, QSize pixelSize, const QColor &color);
    static bool exists(const QString &name);

signals:
    void nameChanged();
    void sizeChanged();
    void colorChanged();

protected:
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    void rebuild();

    QString m_name;
    qreal m_size = 16;
    QColor m_color = Qt::white;
    QImage m_image; // built on the GUI thread, only read by paint()
};
