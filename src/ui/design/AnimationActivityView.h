#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

#include "ui/design/MotionPreferences.h"

// Decides whether ambient animations may run now, as one Bool for its content to bind:
// `AnimationActivityView { id: gate; isPlaying: playing && !reduceMotion; Mesh… { isAnimating: gate.active } }`
// (the views fold their own `reduceMotion` into `isPlaying`; `motionPreferences`, when set, is
// consulted as well).
// True only while playing, the window is shown and not minimised, the application is active,
// some window of ours has focus, and Reduce Motion is off. It follows the window, the
// application and the preferences by itself; `active` notifies only on a change.
// There is no occlusion detection: a covered but active window keeps animating.
class AnimationActivityView : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool isPlaying READ isPlaying WRITE setPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(MotionPreferences *motionPreferences READ motionPreferences WRITE setMotionPreferences NOTIFY motionPreferencesChanged)
    Q_PROPERTY(bool active READ isActive NOTIFY activeChanged)

public:
    enum class ScenePhase { active, inactive, background };
    Q_ENUM(ScenePhase)
    enum class ControlActiveState { key, active, inactive };
    Q_ENUM(ControlActiveState)

    // The rule, without any view.
    static bool isWindowActive(ScenePhase scenePhase, ControlActiveState controlActiveState);
    static bool isAnimationActive(bool isPlaying, bool windowActive, bool reduceMotion);
    // The window's side: `background` while hidden or minimised, `inactive` while the
    // application is not active, else `active`.
    static ScenePhase scenePhaseFor(bool windowVisible, QWindow::Visibility visibility,
                                    Qt::ApplicationState applicationState);
    // `key` when this window is active, `active` when another window of ours is, else `inactive`.
    static ControlActiveState controlStateFor(bool windowIsActive, bool anotherOfOursIsActive);

    explicit AnimationActivityView(QQuickItem *parent = nullptr);

    bool isPlaying() const { return m_playing; }
    void setPlaying(bool playing);
    MotionPreferences *motionPreferences() const { return m_preferences; }
    void setMotionPreferences(MotionPreferences *preferences);
    bool isActive() const { return m_active; }

signals:
    void isPlayingChanged();
    void motionPreferencesChanged();
    void activeChanged();

protected:
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    void watchWindow(QQuickWindow *window);
    void recompute();

    bool m_playing = false;
    bool m_active = false;
    QPointer<MotionPreferences> m_preferences;
    QMetaObject::Connection m_preferencesConnection;
    QPointer<QQuickWindow> m_window;
    QList<QMetaObject::Connection> m_windowConnections;
};
