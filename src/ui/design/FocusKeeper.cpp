#include "FocusKeeper.h"

#include <QHash>
#include <QLineF>
#include <QtQml/qqml.h>

namespace {

// Every window's keeper, for the attached objects of its items. GUI thread only.
QHash<const QQuickWindow *, FocusKeeper *> &keepers()
{
    static QHash<const QQuickWindow *, FocusKeeper *> byWindow;
    return byWindow;
}

bool isInside(const QQuickItem *item, const QQuickItem *ancestor)
{
    for (const QQuickItem *p = item; p; p = p->parentItem()) {
        if (p == ancestor)
            return true;
    }
    return false;
}

// Whether `a` comes before `b` in the item tree's reading order (an ancestor before its
// descendants, siblings in their order).
bool precedes(QQuickItem *a, QQuickItem *b)
{
    QList<QQuickItem *> pathA;
    QList<QQuickItem *> pathB;
    for (QQuickItem *p = a; p; p = p->parentItem())
        pathA.prepend(p);
    for (QQuickItem *p = b; p; p = p->parentItem())
        pathB.prepend(p);
    qsizetype i = 0;
    while (i < pathA.size() && i < pathB.size() && pathA.at(i) == pathB.at(i))
        ++i;
    if (i == pathA.size())
        return true;
    if (i == pathB.size() || i == 0)
        return false;
    const QList<QQuickItem *> siblings = pathA.at(i - 1)->childItems();
    return siblings.indexOf(pathA.at(i)) < siblings.indexOf(pathB.at(i));
}

// A focus-chain walk visits each control of the window once per round; a bound keeps a chain
// that never returns to its start from looping.
constexpr int chainBound = 2000;

} // namespace

FocusKeeperAttached::FocusKeeperAttached(QObject *parent)
    : QObject(parent)
{
}

void FocusKeeperAttached::setPane(bool pane)
{
    if (m_pane == pane)
        return;
    m_pane = pane;
    emit paneChanged();
}

bool FocusKeeperAttached::focusNearby() const
{
    auto *item = qobject_cast<QQuickItem *>(parent());
    QQuickWindow *window = item ? item->window() : nullptr;
    FocusKeeper *keeper = FocusKeeper::of(window);
    if (!keeper)
        return false;
    QQuickItem *focused = window->activeFocusItem();
    if (!focused || !keeper->isHeldByControl(focused))
        return true;
    return FocusKeeper::paneOf(focused) == FocusKeeper::paneOf(item);
}

bool FocusKeeperAttached::keyboardInUse() const
{
    auto *item = qobject_cast<QQuickItem *>(parent());
    FocusKeeper *keeper = FocusKeeper::of(item ? item->window() : nullptr);
    return keeper && keeper->keyboardInUse();
}

FocusKeeper::FocusKeeper(QObject *parent)
    : QObject(parent)
{
}

FocusKeeper::~FocusKeeper()
{
    setWindow(nullptr);
}

FocusKeeperAttached *FocusKeeper::qmlAttachedProperties(QObject *object)
{
    return new FocusKeeperAttached(object);
}

FocusKeeper *FocusKeeper::of(const QQuickWindow *window)
{
    return window ? keepers().value(window, nullptr) : nullptr;
}

void FocusKeeper::setWindow(QQuickWindow *window)
{
    if (m_window == window)
        return;
    if (m_window) {
        disconnect(m_connection);
        keepers().remove(m_window);
    }
    m_window = window;
    if (m_window) {
        keepers().insert(m_window, this);
        m_connection = connect(m_window, &QQuickWindow::activeFocusItemChanged, this,
                               &FocusKeeper::onActiveFocusItemChanged);
    }
    emit windowChanged();
}

QQuickItem *FocusKeeper::paneOf(QQuickItem *item)
{
    QQuickWindow *window = item ? item->window() : nullptr;
    for (QQuickItem *p = item; p; p = p->parentItem()) {
        auto *attached = qobject_cast<FocusKeeperAttached *>(qmlAttachedPropertiesObject<FocusKeeper>(p, false));
        if (attached && attached->isPane())
            return p;
        QQuickItem *up = p->parentItem();
        if (!up || (window && up == window->contentItem()) || up->inherits("QQuickOverlay"))
            return p;
    }
    return nullptr;
}

bool FocusKeeper::isShowing(QQuickItem *item)
{
    if (!item || !item->isVisible() || !item->isEnabled() || !item->window())
        return false;
    const QRectF area = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    QRectF visible(QPointF(0, 0), item->window()->size());
    qreal opacity = 1;
    for (QQuickItem *p = item; p; p = p->parentItem()) {
        opacity *= p->opacity();
        if (p != item && p->clip())
            visible = visible.intersected(p->mapRectToScene(QRectF(0, 0, p->width(), p->height())));
    }
    return opacity > 0.01 && visible.adjusted(-0.5, -0.5, 0.5, 0.5).contains(area);
}

bool FocusKeeper::isHeldByControl(QQuickItem *item) const
{
    return item && m_window && item != m_window->contentItem() && !(item->flags() & QQuickItem::ItemIsFocusScope)
           && item->isVisible() && item->isEnabled();
}

void FocusKeeper::onActiveFocusItemChanged()
{
    QQuickItem *item = m_window ? m_window->activeFocusItem() : nullptr;
    if (isHeldByControl(item)) {
        if (m_item)
            disconnect(m_item, nullptr, this, nullptr);
        m_item = item;
        m_pane = paneOf(item);
        m_itemRect = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
        const QVariant visual = item->property("visualFocus");
        m_keyboard = !visual.isValid() || visual.toBool();
        // A control that turns disabled or hidden may keep the window's focus: the focus moves
        // on all the same.
        connect(item, &QQuickItem::enabledChanged, this, &FocusKeeper::onActiveFocusItemChanged);
        connect(item, &QQuickItem::visibleChanged, this, &FocusKeeper::onActiveFocusItemChanged);
        return;
    }
    // Left on a scope, the window's content or nothing: decided once the change is complete (a
    // popup hands the focus back, a view enters its first control, a list rebuilds its rows).
    if (m_pending || !m_pane)
        return;
    m_pending = true;
    QMetaObject::invokeMethod(this, &FocusKeeper::keepFocus, Qt::QueuedConnection);
}

void FocusKeeper::keepFocus()
{
    m_pending = false;
    if (!m_window || !m_window->isVisible())
        return;
    QQuickItem *focused = m_window->activeFocusItem();
    if (focused && isHeldByControl(focused))
        return;
    // Its control still there to take it: the focus was let go on purpose, not lost.
    if (m_item && isHeldByControl(m_item))
        return;
    QQuickItem *pane = m_pane;
    if (!pane || !pane->isVisible() || pane->window() != m_window)
        return;
    if (QQuickItem *target = replacementFor(pane))
        target->forceActiveFocus(m_keyboard ? Qt::TabFocusReason : Qt::OtherFocusReason);
}

QList<QQuickItem *> FocusKeeper::showingStops(QQuickItem *pane)
{
    // Walked from the pane, which shows: a walk from a hidden item may wrap round without
    // finding its neighbours.
    QList<QQuickItem *> stops;
    QQuickItem *it = pane;
    for (int i = 0; i < chainBound; ++i) {
        it = it->nextItemInFocusChain(true);
        if (!it || it == pane || (!stops.isEmpty() && it == stops.constFirst()) || !isInside(it, pane))
            break;
        if (it->activeFocusOnTab() && isShowing(it))
            stops << it;
    }
    return stops;
}

QQuickItem *FocusKeeper::replacementFor(QQuickItem *pane) const
{
    const QList<QQuickItem *> stops = showingStops(pane);
    // Still there (hidden or disabled): the next stop in reading order, else the previous one.
    if (m_item && m_item->window() == m_window && isInside(m_item, pane)) {
        QQuickItem *previous = nullptr;
        for (QQuickItem *stop : stops) {
            if (stop == m_item)
                continue;
            if (precedes(m_item, stop))
                return stop;
            previous = stop;
        }
        if (previous)
            return previous;
    }
    // Gone: the showing stop closest to where it was.
    QQuickItem *nearest = nullptr;
    qreal best = 0;
    for (QQuickItem *stop : stops) {
        if (stop == m_item)
            continue;
        const QRectF r = stop->mapRectToScene(QRectF(0, 0, stop->width(), stop->height()));
        const qreal distance = QLineF(r.center(), m_itemRect.center()).length();
        if (!nearest || distance < best) {
            nearest = stop;
            best = distance;
        }
    }
    return nearest;
}
