#pragma once

// Drives the application's windows as a person would — real mouse clicks and key presses — and
// saves what they show. For the end-to-end tests under a virtual X display.

#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <functional>

namespace WindowDriver {

inline QQuickItem *item(QQuickWindow *window, const QString &objectName)
{
    return window ? window->findChild<QQuickItem *>(objectName) : nullptr;
}

// The item shown by the main window's root-view loader ("signInView", "playerView", …).
inline QString shownView(QQuickWindow *window)
{
    QQuickItem *loader = item(window, QStringLiteral("rootView"));
    auto *shown = loader ? loader->property("item").value<QQuickItem *>() : nullptr;
    return shown ? shown->objectName() : QString();
}

inline bool click(QQuickWindow *window, QQuickItem *target)
{
    if (!target || !target->isVisible())
        return false;
    const QPoint at = target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint();
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
    return true;
}

inline bool click(QQuickWindow *window, const QString &objectName)
{
    return click(window, item(window, objectName));
}

// Items that a Repeater or a view makes have no QObject parent in the window: these walk the
// visual tree.
inline void collectNamed(QQuickItem *under, const QString &name, QList<QQuickItem *> &found)
{
    if (under->objectName() == name)
        found << under;
    for (QQuickItem *child : under->childItems())
        collectNamed(child, name, found);
}

// The visible items named `name` at or below `under`.
inline QList<QQuickItem *> visibleNamed(QQuickItem *under, const QString &name)
{
    QList<QQuickItem *> found;
    if (under)
        collectNamed(under, name, found);
    found.removeIf([](QQuickItem *item) { return !item->isVisible(); });
    return found;
}

inline QQuickItem *firstVisible(QQuickItem *under, const QString &name)
{
    const QList<QQuickItem *> found = visibleNamed(under, name);
    return found.isEmpty() ? nullptr : found.first();
}

// Points at the item, lets the pointer rest, clicks, as a person does: the first press of a
// pointer that was never over the window is not delivered as a click here. A click the virtual
// display dropped (no `clicked` seen within a second) is repeated once.
inline bool pointAndClick(QQuickWindow *window, QQuickItem *target)
{
    if (!target || !target->isVisible())
        return false;
    QSignalSpy clicked(target, SIGNAL(clicked()));
    QTest::mouseMove(window, target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    QTest::qWait(100);
    if (!click(window, target))
        return false;
    if (clicked.isValid() && clicked.isEmpty() && !clicked.wait(1000))
        return click(window, target);
    return true;
}

// The one lit card row of the Now tab (the list keeps it on screen while the song plays), or null.
inline QQuickItem *litRow(QQuickWindow *window)
{
    QList<QQuickItem *> rows;
    const std::function<void(QQuickItem *)> walk = [&](QQuickItem *under) {
        if (under->objectName().startsWith(QStringLiteral("now.row.")) && under->property("isActive").toBool()
            && under->isVisible())
            rows << under;
        for (QQuickItem *child : under->childItems())
            walk(child);
    };
    walk(window->contentItem());
    return rows.size() == 1 ? rows.first() : nullptr;
}

// Clicks into the named text input (or the first one inside the named item) and types `text`.
inline bool type(QQuickWindow *window, const QString &objectName, const QString &text)
{
    QQuickItem *input = item(window, objectName);
    if (input && !input->inherits("QQuickTextInput")) {
        const QList<QQuickItem *> children = input->findChildren<QQuickItem *>();
        const auto found = std::find_if(children.begin(), children.end(),
                                        [](QQuickItem *child) { return child->inherits("QQuickTextInput"); });
        input = found == children.end() ? nullptr : *found;
    }
    if (!click(window, input))
        return false;
    if (!input->hasActiveFocus())
        return false;
    for (const QChar c : text)
        QTest::keyClick(window, c.toLatin1()); // the tests type ASCII only
    return true;
}

// Saves the window's picture as <folder>/<name>-<width>x<height>.png.
inline bool screenshot(QQuickWindow *window, const QString &folder, const QString &name)
{
    QDir().mkpath(folder);
    const QImage image = window->grabWindow();
    if (image.isNull())
        return false;
    return image.save(QDir(folder).filePath(
        QStringLiteral("%1-%2x%3.png").arg(name).arg(window->width()).arg(window->height())));
}

inline void resize(QQuickWindow *window, int width, int height)
{
    window->resize(width, height);
    QTRY_COMPARE(window->size(), QSize(width, height));
    QTest::qWait(100); // let the layout settle and a frame render
}

} // namespace WindowDriver
