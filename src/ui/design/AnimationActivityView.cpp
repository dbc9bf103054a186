#include "ui/design/AnimationActivityView.h"

#include "ui/design/MotionPreferences.h"

#include <QGuiApplication>
#include <QQuickWindow>

bool AnimationActivityView::isWindowActive(ScenePhase scenePhase, ControlActiveState controlActiveState)
{
    if (scenePhase != ScenePhase::active)
        return false;
    return controlActiveState != ControlActiveState::inactive;
}

bool AnimationActivityView::isAnimationActive(bool isPlaying, bool windowActive, bool reduceMotion)
{
    if (!isPlaying)
        return false;
    return windowActive && !reduceMotion;
}

AnimationActivityView::ScenePhase AnimationActivityView::scenePhaseFor(bool windowVisible,
                                                                       QWindow::Visibility visibility,
                                                                       Qt::ApplicationState applicationState)
{
    if (!windowVisible || visibility == QWindow::Hidden || visibility == QWindow::Minimized)
        return ScenePhase::background;
    if (applicationState != Qt::ApplicationActive)
        return ScenePhase::inactive;
    return ScenePhase::active;
}

AnimationActivityView::ControlActiveState AnimationActivityView::controlStateFor(bool windowIsActive,
                                                                                 bool anotherOfOursIsActive)
{
    if (windowIsActive)
        return ControlActiveState::key;
    return anotherOfOursIsActive ? ControlActiveState::active : ControlActiveState::inactive;
}

AnimationActivityView::AnimationActivityView(QQuickItem *parent)
    : QQuickItem(parent)
{
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, &AnimationActivityView::recompute);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &AnimationActivityView::recompute);
}

void AnimationActivityView::setPlaying(bool playing)
{
    if (playing == m_playing)
        return;
    m_playing = playing;
    emit isPlayingChanged();
    recompute();
}

void AnimationActivityView::setMotionPreferences(MotionPreferences *preferences)
{
    if (preferences == m_preferences)
        return;
    disconnect(m_preferencesConnection);
    m_preferences = preferences;
    if (preferences)
        m_preferencesConnection = connect(preferences, &MotionPreferences::reduceMotionChanged, this,
                                          &AnimationActivityView::recompute);
    emit motionPreferencesChanged();
    recompute();
}

void AnimationActivityView::itemChange(ItemChange change, const ItemChangeData &value)
{
    if (change == ItemSceneChange)
        watchWindow(value.window);
    QQuickItem::itemChange(change, value);
}

void AnimationActivityView::watchWindow(QQuickWindow *window)
{
    for (const auto &c : std::as_const(m_windowConnections))
        disconnect(c);
    m_windowConnections.clear();
    m_window = window;
    if (window) {
        m_windowConnections << connect(window, &QWindow::visibilityChanged, this, &AnimationActivityView::recompute)
                            << connect(window, &QWindow::visibleChanged, this, &AnimationActivityView::recompute)
                            << connect(window, &QWindow::activeChanged, this, &AnimationActivityView::recompute);
    }
    recompute();
}

void AnimationActivityView::recompute()
{
    bool windowActive = false;
    if (m_window) {
        const ScenePhase phase = scenePhaseFor(m_window->isVisible(), m_window->visibility(),
                                               QGuiApplication::applicationState());
        const QWindow *focus = QGuiApplication::focusWindow();
        const ControlActiveState control = controlStateFor(m_window->isActive(), focus && focus != m_window);
        windowActive = isWindowActive(phase, control);
    }
    const bool reduceMotion = m_preferences && m_preferences->reduceMotion();
    const bool active = isAnimationActive(m_playing, windowActive, reduceMotion);
    if (active == m_active)
        return;
    m_active = active;
    emit activeChanged();
}
