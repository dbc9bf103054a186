#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRectF>
#include <QtQml/qqmlregistration.h>

class FocusKeeper;

// What a view item says to its window's FocusKeeper: `FocusKeeper.pane: true` marks a pane (the
// sign-in view, a panel, the settings view), the region the focus stays in when its control
// goes away. An announced text asks through it whether it may take the focus.
class FocusKeeperAttached : public QObject
{
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(bool pane READ isPane WRITE setPane NOTIFY paneChanged)

public:
    explicit FocusKeeperAttached(QObject *parent);

    bool isPane() const { return m_pane; }
    void setPane(bool pane);

    // Whether the window's keyboard focus is in the same pane as this item, or on no control at
    // all: a text that appears there may take the focus without pulling the user away.
    Q_INVOKABLE bool focusNearby() const;
    // Whether the window's last focused control took its focus from the keyboard (its ring shows).
    Q_INVOKABLE bool keyboardInUse() const;

signals:
    void paneChanged();

private:
    bool m_pane = false;
};

// One per window. Watches the window's focused item; when it goes away (hidden, disabled or
// destroyed) and leaves the focus on no control, the focus goes to the nearest control still
// showing in the same pane: the next in reading order, else the previous, else (the control
// gone) the one closest to where it was. Never to the window's first control, never to nothing
// while the pane shows a control. Items outside any marked pane count their popup or top-level
// view as their pane.
class FocusKeeper : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_ATTACHED(FocusKeeperAttached)
    Q_PROPERTY(QQuickWindow *window READ window WRITE setWindow NOTIFY windowChanged)

public:
    explicit FocusKeeper(QObject *parent = nullptr);
    ~FocusKeeper() override;

    static FocusKeeperAttached *qmlAttachedProperties(QObject *object);

    QQuickWindow *window() const { return m_window; }
    void setWindow(QQuickWindow *window);

    bool keyboardInUse() const { return m_keyboard; }

    static FocusKeeper *of(const QQuickWindow *window);
    // The marked pane holding the item, else its top-level view or popup.
    static QQuickItem *paneOf(QQuickItem *item);
    // Visible, enabled and whole inside the window and every clipping item above it.
    static bool isShowing(QQuickItem *item);
    // A focused item that is a control the user sees (not a scope, not the window's content).
    bool isHeldByControl(QQuickItem *item) const;

signals:
    void windowChanged();

private:
    void onActiveFocusItemChanged();
    void keepFocus();
    QQuickItem *replacementFor(QQuickItem *pane) const;
    // The pane's Tab stops that show, in reading order.
    static QList<QQuickItem *> showingStops(QQuickItem *pane);

    QPointer<QQuickWindow> m_window;
    QMetaObject::Connection m_connection;
    // The control focused last, its pane and its place in the scene.
    QPointer<QQuickItem> m_item;
    QPointer<QQuickItem> m_pane;
    QRectF m_itemRect;
    bool m_keyboard = false;
    bool m_pending = false;
};
