#pragma once

#include <QColor>
#include <QObject>
#include <QPointF>
#include <QSizeF>
#include <QtQml/qqmlregistration.h>

class QQmlEngine;
class QJSEngine;

// The three capsule looks (primary button, secondary button, chip) in three tones.
class CT : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    enum Tone { NeonCyan, NeonPink, Surface };
    Q_ENUM(Tone)
    enum Look { Primary, Secondary, Chip };
    Q_ENUM(Look)

    struct Colors
    {
        QColor label;
        QColor fill;
        QColor border; // transparent: no border
        bool gradientFill = false; // the diagonal cyan → violet capsule
    };

    static Colors colors(Look look, Tone tone);
    // Opacity while pressed (0.85 primary, 0.75 secondary) applies with or without Reduce Motion;
    // the 0.97 shrink only without.
    static double pressedOpacity(Look look, bool down);
    static double pressedScale(bool down, bool reduceMotion);
    static constexpr double horizontalPadding(Look look) { return look == Chip ? 9 : 12; }
    static constexpr double verticalPadding(Look look) { return look == Chip ? 3 : 6; }

    Q_INVOKABLE QColor labelColor(int look, int tone) const { return colors(Look(look), Tone(tone)).label; }
    Q_INVOKABLE QColor fillColor(int look, int tone) const { return colors(Look(look), Tone(tone)).fill; }
    Q_INVOKABLE QColor borderColor(int look, int tone) const { return colors(Look(look), Tone(tone)).border; }
    Q_INVOKABLE bool hasGradientFill(int look, int tone) const
    {
        return colors(Look(look), Tone(tone)).gradientFill;
    }
    Q_INVOKABLE double opacityFor(int look, bool down) const { return pressedOpacity(Look(look), down); }
    Q_INVOKABLE double scaleFor(bool down, bool reduceMotion) const { return pressedScale(down, reduceMotion); }
    Q_INVOKABLE double paddingH(int look) const { return horizontalPadding(Look(look)); }
    Q_INVOKABLE double paddingV(int look) const { return verticalPadding(Look(look)); }

    static CT *create(QQmlEngine *, QJSEngine *) { return new CT; }
};

// True when p lies inside the capsule inscribed in a rectangle of the given size (the
// half-discs at the short ends, the rectangle between them).
bool capsuleContains(QSizeF size, QPointF p);

// A button's hit shape: `containmentMask: CapsuleMask { width: control.width; height: control.height }`.
class CapsuleMask : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(qreal width MEMBER m_width NOTIFY sizeChanged)
    Q_PROPERTY(qreal height MEMBER m_height NOTIFY sizeChanged)

public:
    using QObject::QObject;
    Q_INVOKABLE bool contains(const QPointF &point) const
    {
        return capsuleContains(QSizeF(m_width, m_height), point);
    }

signals:
    void sizeChanged();

private:
    qreal m_width = 0;
    qreal m_height = 0;
};
