#pragma once

#include "session/player/PlayerViewModel.h"
#include "ui/design/FrameClock.h"

#include <QObject>
#include <QPointer>

#include <QtQml/qqmlregistration.h>

// The time the hue echo behind the Now tab is drawn at. While `animating` (the activity gate) it
// follows the lyrics position on the frame clock's ticks (at most 30 a second); otherwise it is
// `stillElapsed`, which changes only when the tab publishes. No clock is held while still.
class InterPanelHueEchoDriver : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(PlayerViewModel *vm MEMBER m_vm NOTIFY inputsChanged)
    Q_PROPERTY(QObject *frameClock READ frameClock WRITE setFrameClock NOTIFY inputsChanged)
    Q_PROPERTY(bool animating READ animating WRITE setAnimating NOTIFY inputsChanged)
    Q_PROPERTY(double stillElapsed READ stillElapsed WRITE setStillElapsed NOTIFY inputsChanged)
    Q_PROPERTY(double elapsed READ elapsed NOTIFY elapsedChanged)

public:
    using QObject::QObject;
    ~InterPanelHueEchoDriver() override;

    QObject *frameClock() const { return m_clock; }
    void setFrameClock(QObject *clock);
    bool animating() const { return m_animating; }
    void setAnimating(bool animating);
    double stillElapsed() const { return m_stillElapsed; }
    void setStillElapsed(double elapsed);
    double elapsed() const { return m_elapsed; }

signals:
    void inputsChanged();
    void elapsedChanged();

private:
    void resubscribe();
    void setElapsed(double elapsed);

    QPointer<PlayerViewModel> m_vm;
    QPointer<FrameClock> m_clock;
    bool m_animating = false;
    double m_stillElapsed = 0;
    double m_elapsed = 0;
    QMetaObject::Connection m_tick;
};
