#pragma once

#include "ui/design/FrameClock.h"
#include "ui/design/Motion.h"

#include <QObject>
#include <QPointer>
#include <QVariantAnimation>
#include <QtQml/qqmlregistration.h>

// A transition paced by the shared frame clock where a software rasterizer draws: after start(),
// `progress` goes from 0 to 1 along the curve over the given seconds, one step per clock tick.
// Its frames therefore come at most at the clock's rate and on the same ticks as the ambient
// animations', so a transition adds no frames of its own while they run. It holds the clock only
// while it runs. Where a GPU draws (the clock's hardware profile), and without a clock (a view
// hosted without the shell's clocks), it runs on Qt's animation timer instead, at the display's
// rate; the profile in force at start() decides. With no duration it lands at 1 at once. The
// view maps `progress` onto its values (from + (to − from) × progress).
// `ambientPace` steps it at the ambient animations' pace instead of the transitions' (fewer
// frames for a change that need not read as motion, e.g. under Reduce Motion); it then lands on
// the tick nearest its end rather than the first tick after it. `scrollPace` steps it at a list
// scroll's pace (as many frames as the display shows, for content that moves far).
class FrameTween : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QObject *frameClock READ frameClock WRITE setFrameClock NOTIFY frameClockChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(bool running READ isRunning NOTIFY runningChanged)
    Q_PROPERTY(bool ambientPace READ ambientPace WRITE setAmbientPace NOTIFY ambientPaceChanged)
    Q_PROPERTY(bool scrollPace READ scrollPace WRITE setScrollPace NOTIFY scrollPaceChanged)

public:
    explicit FrameTween(QObject *parent = nullptr);
    ~FrameTween() override;

    QObject *frameClock() const { return m_clock; }
    void setFrameClock(QObject *clock);
    double progress() const { return m_progress; }
    bool isRunning() const { return m_running; }
    bool ambientPace() const { return m_ambientPace; }
    void setAmbientPace(bool ambient);
    bool scrollPace() const { return m_scrollPace; }
    void setScrollPace(bool scroll);

    // Restarts from progress 0: ease-in-out, or linear when `linear`.
    Q_INVOKABLE void start(double seconds, bool linear = false);
    // Stops where it is (progress keeps its value).
    Q_INVOKABLE void stop();

signals:
    void frameClockChanged();
    void progressChanged();
    void runningChanged();
    void ambientPaceChanged();
    void scrollPaceChanged();

private:
    void onTick(double now);
    void setProgress(double progress);
    void setRunning(bool running);
    FrameClock::Pace pace() const;
    // A pace changed under way: the clock steps the run at the new one.
    void repace();

    QPointer<FrameClock> m_clock;
    QMetaObject::Connection m_tick;
    double m_progress = 1.0;
    bool m_running = false;
    bool m_ambientPace = false;
    bool m_scrollPace = false;
    // This run steps on the frame clock's ticks.
    bool m_paced = false;
    double m_start = 0;
    double m_seconds = 0;
    QEasingCurve m_curve;
    QVariantAnimation m_unpaced;
};
