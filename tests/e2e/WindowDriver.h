#pragma once

// Drives the application's windows as a person would — real mouse clicks and key presses — and
// saves what they show. For the end-to-end tests under a virtual X display.

#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <algorithm>

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
