#pragma once

#include "session/player/PlayerViewModel.h"
#include "ui/design/FrameClock.h"

#include <QObject>
#include <QPointer>

#include <QtQml/qqmlregistration.h>

// The time the hue echo behind the Now tab is drawn at, and its colour. While `animating` (the
// activity gate) it follows the lyrics position on the frame clock's ticks;
// otherwise it is `stillElapsed`, which changes only when the tab publishes. No clock is held
// while still.
// The wash is drawn at 12 % over a fixed backdrop, so on an 8-bit display a hue step shows only
// when some channel's share round(255 × 0.12 × c) changes: a tick publishes only then (a few
// times a second). The cards above the wash are cached in a texture of their own meanwhile, so
// a published step composites them again rather than redrawing them.
class InterPanelHueEchoDriver : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PlayerViewModel *vm MEMBER m_vm NOTIFY inputsChanged)
    Q_PROPERTY(QObject *frameClock READ frameClock WRITE setFrameClock NOTIFY inputsChanged)
    Q_PROPERTY(bool animating READ animating WRITE setAnimating NOTIFY inputsChanged)
    Q_PROPERTY(double stillElapsed READ stillElapsed WRITE setStillElapsed NOTIFY inputsChanged)
    Q_PROPERTY(double elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(QColor color READ color NOTIFY elapsedChanged)

public:
    static constexpr double washOpacity = 0.12;
    // The wash's colour at `elapsed`: the mesh palette's hue at saturation 0.7, brightness 0.5.
    static QColor colorAt(double elapsed);
    // Whether washes of `a` and `b` at `washOpacity` differ in some 8-bit channel.
    static bool showsDifferently(const QColor &a, const QColor &b);

    using QObject::QObject;
    ~InterPanelHueEchoDriver() override;

    QObject *frameClock() const { return m_clock; }
    void setFrameClock(QObject *clock);
    bool animating() const { return m_animating; }
    void setAnimating(bool animating);
    double stillElapsed() const { return m_stillElapsed; }
    void setStillElapsed(double elapsed);
    double elapsed() const { return m_elapsed; }
    QColor color() const { return colorAt(m_elapsed); }

signals:
    void inputsChanged();
    void elapsedChanged();

private:
    void resubscribe();
    void setElapsed(double elapsed);
    void onTick();

    QPointer<PlayerViewModel> m_vm;
    QPointer<FrameClock> m_clock;
    bool m_animating = false;
    double m_stillElapsed = 0;
    double m_elapsed = 0;
    QMetaObject::Connection m_tick;
};
