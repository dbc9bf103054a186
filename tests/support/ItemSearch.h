#pragma once

#include <QQuickItem>

// Items that a Repeater or a view makes have no QObject parent: these search the visual tree,
// depth first, at and below `under`.

// The first item named `name`; null when there is none (or `under` is null).
inline QQuickItem *findItem(QQuickItem *under, const QString &name)
{
    if (!under)
        return nullptr;
    if (under->objectName() == name)
        return under;
    for (QQuickItem *child : under->childItems()) {
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

// The first visible item named `name` (it may stand below a hidden one of the same name).
inline QQuickItem *visibleItem(QQuickItem *under, const QString &name)
{
    if (!under)
        return nullptr;
    if (under->objectName() == name && under->isVisible())
        return under;
    for (QQuickItem *child : under->childItems()) {
        if (QQuickItem *found = visibleItem(child, name))
            return found;
    }
    return nullptr;
}
