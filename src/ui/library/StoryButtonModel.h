#pragma once

#include "session/player/PlayerViewModel.h"
#include "ui/design/FrameClock.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>


// The story button's look: ready (a story is there and the overlay is closed) or idle, and the
// ready look's breathing glow, which swings the label's opacity between 0.7 and 1.0 every 2.5 s.
// The glow holds the frame clock only while ready, shown and motion is not reduced; otherwise
// nothing ticks and the opacity is 1.
class StoryButtonModel : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PlayerViewModel *vm READ vm WRITE setVm NOTIFY vmChanged)
    Q_PROPERTY(QObject *frameClock READ frameClock WRITE setFrameClock NOTIFY frameClockChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion WRITE setReduceMotion NOTIFY reduceMotionChanged)
    Q_PROPERTY(bool shown READ isShown WRITE setShown NOTIFY shownChanged)
    Q_PROPERTY(bool ready READ isReady NOTIFY readyChanged)
    Q_PROPERTY(QString accessibleName READ accessibleName NOTIFY readyChanged)
    Q_PROPERTY(QString helpText READ helpText NOTIFY readyChanged)
    Q_PROPERTY(double glowOpacity READ glowOpacity NOTIFY glowOpacityChanged)
    Q_PROPERTY(bool glowing READ isGlowing NOTIFY glowingChanged)

public:
    static constexpr double breathPeriod = 2.5;

    explicit StoryButtonModel(QObject *parent = nullptr);
    ~StoryButtonModel() override;

    PlayerViewModel *vm() const { return m_vm; }
    void setVm(PlayerViewModel *vm);
    QObject *frameClock() const;
    void setFrameClock(QObject *clock);
    bool reduceMotion() const { return m_reduceMotion; }
    void setReduceMotion(bool reduce);
    bool isShown() const { return m_shown; }
    void setShown(bool shown);

    bool isReady() const { return m_ready; }
    QString accessibleName() const;
    QString helpText() const;
    double glowOpacity() const { return m_glowOpacity; }
    bool isGlowing() const { return m_glowing; }

    // 0.7 + 0.3 × (0.5 + 0.5 × sin(2π × phase)).
    static double opacityAtPhase(double phase);
    // The phase of `seconds` in the 2.5 s cycle, in [0, 1).
    static double phaseAt(double seconds);

    // Opens the overlay when a story is there; without one nothing happens.
    Q_INVOKABLE void press();

signals:
    void vmChanged();
    void frameClockChanged();
    void reduceMotionChanged();
    void shownChanged();
    void readyChanged();
    void glowOpacityChanged();
    void glowingChanged();

private:
    void refresh();
    void setGlowOpacity(double opacity);
    void onTick(double now);

    QPointer<PlayerViewModel> m_vm;
    QPointer<FrameClock> m_clock;
    QList<QMetaObject::Connection> m_vmConnections;
    QMetaObject::Connection m_tickConnection;
    bool m_reduceMotion = false;
    bool m_shown = true;
    bool m_ready = false;
    bool m_glowing = false;
    double m_glowOpacity = 1.0;
};
