// What the keyboard walk reads off the real window: the focused control's name, the focus events
// sent to assistive technologies, the focus ring drawn for a control and its contrast, and whether
// a control still shows.
#pragma once

#include <QAccessible>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <cmath>

namespace KeyboardWalk {

inline const QString screenshots = QStringLiteral(CANTORELLA_BINARY_DIR "/screenshots/keyboard");

// What the focused item is called: its object name, else the QML type it is made from.
inline QString focusedName(QQuickWindow *window)
{
    QQuickItem *item = window->activeFocusItem();
    if (!item)
        return QString();
    return item->objectName().isEmpty() ? QString::fromLatin1(item->metaObject()->className()) : item->objectName();
}

// The objects of the focus events sent to assistive technologies, latest last: the AT-SPI bridge
// turns each into the "focus:" event a screen reader announces.
inline QList<QPointer<QObject>> &focusEvents()
{
    static QList<QPointer<QObject>> events;
    return events;
}

inline void recordFocusEvent(QAccessibleEvent *event)
{
    if (event->type() == QAccessible::Focus)
        focusEvents() << event->object();
}

// Roles a user acts on.
inline bool isControlRole(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::Button: case QAccessible::CheckBox: case QAccessible::RadioButton:
    case QAccessible::PageTab: case QAccessible::Slider: case QAccessible::EditableText:
    case QAccessible::Link: case QAccessible::ListItem:
        return true;
    default:
        return false;
    }
}

// What the latest focus event announced, when it was not the focused control ("" when it was).
inline QString otherAnnounced(QQuickWindow *window)
{
    // Read the focused item again on each look: the focus may still be settling (a view that
    // goes in steps moves it more than once), and the event to match is the latest move's.
    if (QTest::qWaitFor([&] { return !focusEvents().isEmpty() && focusEvents().constLast() == window->activeFocusItem(); }, 2000))
        return QString();
    QObject *last = focusEvents().isEmpty() ? nullptr : focusEvents().constLast().data();
    return last ? QString::fromLatin1(last->metaObject()->className()) + u' ' + last->objectName() : QStringLiteral("nothing");
}

// What is wrong with the announcement of the focused control ("" when the latest focus event is
// the control's own, with a name and a control's role, or the role given).
inline QString announcementFault(QQuickWindow *window, QAccessible::Role role = QAccessible::NoRole)
{
    if (const QString other = otherAnnounced(window); !other.isEmpty())
        return QStringLiteral("focus announced on %1, not on the control").arg(other);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(window->activeFocusItem());
    if (!iface || !(isControlRole(iface->role()) || iface->role() == role) || iface->text(QAccessible::Name).isEmpty())
        return QStringLiteral("announced without a name or a control's role");
    return QString();
}

inline bool isRing(const QQuickItem *item)
{
    return QByteArray(item->metaObject()->className()).startsWith("FocusRing");
}

inline QQuickItem *ringBelow(QQuickItem *item, int depth = 0)
{
    for (QQuickItem *child : item->childItems()) {
        if (isRing(child))
            return child;
        if (depth < 3) {
            if (QQuickItem *found = ringBelow(child, depth + 1))
                return found;
        }
    }
    return nullptr;
}

inline QQuickItem *ringFor(QQuickItem *under, QQuickItem *control)
{
    for (QQuickItem *child : under->childItems()) {
        if (isRing(child) && child->property("control").value<QQuickItem *>() == control)
            return child;
        if (QQuickItem *found = ringFor(child, control))
            return found;
    }
    return nullptr;
}

// The focus ring that draws `control`'s focus: inside it (a handle's, a background's), beside it,
// or on a host above its card's greying.
inline QQuickItem *ringOf(QQuickItem *control)
{
    if (QQuickItem *ring = ringBelow(control))
        return ring;
    if (QQuickItem *parent = control->parentItem()) {
        for (QQuickItem *child : parent->childItems()) {
            if (isRing(child) && child->property("control").value<QQuickItem *>() == control)
                return child;
        }
    }
    return control->window() ? ringFor(control->window()->contentItem(), control) : nullptr;
}

inline double luminance(QRgb c)
{
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

inline double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The ring's white band, its outer ink hairline and the pixels just outside it, halfway along its
// top edge, in device pixels (the grab is at the device pixel ratio).
struct RingSample
{
    QRgb band;
    QRgb hairline;
    QRgb outside;

    // The ring stands out when one of its two tones does: the white band against what lies
    // around it, or the ink hairline where that is bright (a gradient fill, a glow passing by).
    double contrast() const { return std::max(KeyboardWalk::contrast(band, outside), KeyboardWalk::contrast(hairline, outside)); }
    QString describe() const
    {
        return QStringLiteral("contrast %1 (band %2, hairline %3, outside %4)")
            .arg(contrast())
            .arg(QColor(band).name(), QColor(hairline).name(), QColor(outside).name());
    }
};

inline RingSample sampleRing(const QImage &image, QQuickItem *ring, qreal dpr)
{
    const QRectF r = ring->mapRectToScene(QRectF(0, 0, ring->width(), ring->height()));
    const int x = int((r.left() + r.width() / 2) * dpr);
    const QRgb band = image.pixel(x, int((r.top() + 2) * dpr));
    const QRgb hairline = image.pixel(x, int((r.top() + 0.5) * dpr));
    const QRgb outside = image.pixel(x, std::max(0, int((r.top() - 2) * dpr)));
    return {band, hairline, outside};
}

// How many pixels of `area` (scene coordinates) differ between the two pictures.
inline int changedPixels(const QImage &a, const QImage &b, QRectF area, qreal dpr)
{
    const QRect px = QRectF(area.topLeft() * dpr, area.size() * dpr).toAlignedRect().intersected(a.rect());
    int changed = 0;
    for (int y = px.top(); y <= px.bottom(); ++y) {
        for (int x = px.left(); x <= px.right(); ++x)
            changed += a.pixel(x, y) != b.pixel(x, y);
    }
    return changed;
}

// Waits until the focus rests on a control that draws a ring (not on a scope left behind).
inline bool ringedFocus(QQuickWindow *window)
{
    return QTest::qWaitFor([&] {
        QQuickItem *focused = window->activeFocusItem();
        return focused && focused->isVisible() && ringOf(focused);
    }, 5000);
}

inline bool saveShot(QQuickWindow *window, const QString &name)
{
    QDir().mkpath(screenshots);
    return window->grabWindow().save(
        QDir(screenshots).filePath(QStringLiteral("%1-%2x%3.png").arg(name).arg(window->width()).arg(window->height())));
}

// Whether the whole item is on screen: visible, inside the window and inside every clipping
// item above it (a list's viewport).
inline bool showing(QQuickItem *item)
{
    if (!item || !item->isVisible() || !item->window())
        return false;
    const QRectF area = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    QRectF visible(QPointF(0, 0), item->window()->size());
    for (QQuickItem *p = item->parentItem(); p; p = p->parentItem()) {
        if (p->clip())
            visible = visible.intersected(p->mapRectToScene(QRectF(0, 0, p->width(), p->height())));
    }
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(item);
    return visible.adjusted(-0.5, -0.5, 0.5, 0.5).contains(area) && iface && !iface->state().invisible;
}

// What is wrong with where the focus is after the view changed under it ("" when the window's
// focused control is `name` (any when empty), the latest focus event announced it, it is showing
// and its ring is drawn).
inline QString focusFault(QQuickWindow *window, const QString &name = QString())
{
    if (!QTest::qWaitFor([&] { return name.isEmpty() ? window->activeFocusItem() != nullptr
                                                      : focusedName(window) == name; }, 5000))
        return QStringLiteral("focus on \"%1\", not on \"%2\"").arg(focusedName(window), name);
    if (const QString other = otherAnnounced(window); !other.isEmpty())
        return QStringLiteral("%1: the latest focus event is not its own but %2's").arg(focusedName(window), other);
    QQuickItem *focused = window->activeFocusItem();
    if (!QTest::qWaitFor([&] { return showing(focused); }, 2000))
        return QStringLiteral("%1: not showing").arg(focusedName(window));
    QQuickItem *ring = ringOf(focused);
    if (!ring || !QTest::qWaitFor([&] { return ring->isVisible(); }, 2000))
        return QStringLiteral("%1: no ring").arg(focusedName(window));
    return QString();
}

} // namespace KeyboardWalk
