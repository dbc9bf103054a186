#pragma once

#include "platform/Clock.h"

#include <QObject>
#include <QPointer>

#include <QtQml/qqmlregistration.h>

// The clocks the screens measure time with, handed down from the application as one object so
// that a test can fill it with manual clocks: the continuous clock (positions, delays), the wall
// clock (stored dates) and the design system's frame clock (ambient motion).
class ClockHandle : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application hands its clocks down.")
    Q_PROPERTY(QObject *frameClock READ frameClock NOTIFY frameClockChanged)

public:
    // Null clocks mean the system's. The clocks must outlive the handle.
    explicit ClockHandle(ContinuousClock *continuous = nullptr, WallClock *wall = nullptr, QObject *parent = nullptr)
        : QObject(parent)
        , m_continuous(continuous ? continuous : ContinuousClock::system())
        , m_wall(wall ? wall : WallClock::system())
    {
    }

    ContinuousClock *continuous() const { return m_continuous; }
    WallClock *wall() const { return m_wall; }

    QObject *frameClock() const { return m_frameClock; }
    void setFrameClock(QObject *clock)
    {
        if (m_frameClock == clock)
            return;
        m_frameClock = clock;
        emit frameClockChanged();
    }

signals:
    void frameClockChanged();

private:
    ContinuousClock *m_continuous;
    WallClock *m_wall;
    QPointer<QObject> m_frameClock;
};
