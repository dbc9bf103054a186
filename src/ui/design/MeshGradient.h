#pragma once

#include "ui/design/FrameClock.h"

#include <QColor>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QPointer>
#include <QtQml/qqmlregistration.h>


class QQmlEngine;
class QJSEngine;

// The hue that wanders magenta (315°) → cyan (190°) → violet (275°) → magenta over 14 s.
class MeshGradientPalette : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    static constexpr double cycleDuration = 14.0;
    static double hueAt(double t);
    static QColor colorAt(double t, double saturation, double brightness);

    Q_INVOKABLE double hue(double t) const { return hueAt(t); }
    Q_INVOKABLE QColor color(double t, double saturation, double brightness) const
    {
        return colorAt(t, saturation, brightness);
    }

    static MeshGradientPalette *create(QQmlEngine *, QJSEngine *) { return new MeshGradientPalette; }
};

namespace MeshGradient {
// The glows themselves (colours from Theme, centres, radii, blur, saturation) are
// MeshGradient::fieldColorAt, drawn by MeshFieldGrid.
// The smoothstep of the cycle's phase, in [0, 1]; NaN and the cycle's end give 1.
double driftProgress(double t, double cycleDuration);
// How far beyond every edge of a view of `width` × `height` the field is drawn so that the
// drift (scale about the view's centre, then offset, for every progress in [0, 1]) never uncovers
// a strip along an edge. Scaling up hides part of the offset; the rest must be drawn in advance.
double overscan(double width, double height, double maxDriftX, double maxDriftY, double maxScale);
// Where a field drawn `margin` beyond every edge of a `width` × `height` view lands at drift
// progress `e`, in the view's coordinates.
QRectF driftedField(double width, double height, double margin, double maxDriftX, double maxDriftY,
                    double maxScale, double e);
} // namespace MeshGradient

// Drives the background's drift. Still: the field is placed once, from `elapsed` when it goes
// still (or at the first positive `elapsed` after that; at rest before), and stays there while
// the playback position moves on: a still background must not cost the window a frame per
// position update. Animating: it takes the frame clock's tick when at least 50 ms have passed
// since its last one, with t = `elapsed` when positive, else the clock's time; a constant t
// changes nothing.
class MeshDrift : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(double elapsed READ elapsed WRITE setElapsed NOTIFY elapsedChanged)
    Q_PROPERTY(bool isAnimating READ isAnimating WRITE setAnimating NOTIFY isAnimatingChanged)
    Q_PROPERTY(double cycleDuration READ cycleDuration WRITE setCycleDuration NOTIFY cycleDurationChanged)
    Q_PROPERTY(double maxDriftX MEMBER m_maxDriftX NOTIFY transformChanged)
    Q_PROPERTY(double maxDriftY MEMBER m_maxDriftY NOTIFY transformChanged)
    Q_PROPERTY(double maxScale MEMBER m_maxScale NOTIFY transformChanged)
    Q_PROPERTY(FrameClock *frameClock READ frameClock WRITE setFrameClock NOTIFY frameClockChanged)
    Q_PROPERTY(double progress READ progress NOTIFY transformChanged)
    Q_PROPERTY(double scale READ scale NOTIFY transformChanged)
    Q_PROPERTY(QPointF offset READ offset NOTIFY transformChanged)

public:
    static constexpr double minimumInterval = 0.05;
    // Timer wakes jitter by a few milliseconds: a tick of a clock running at exactly this rate
    // may come that much early after a late one, and is not skipped for it.
    static constexpr double tickSlack = 0.01;

    explicit MeshDrift(QObject *parent = nullptr);
    ~MeshDrift() override;

    double elapsed() const { return m_elapsed; }
    void setElapsed(double elapsed);
    bool isAnimating() const { return m_animating; }
    void setAnimating(bool animating);
    double cycleDuration() const { return m_cycleDuration; }
    void setCycleDuration(double seconds);
    FrameClock *frameClock() const { return m_clock; }
    void setFrameClock(FrameClock *clock);

    double progress() const { return m_progress; }
    double scale() const { return 1 + (m_maxScale - 1) * m_progress; }
    QPointF offset() const { return {m_maxDriftX * m_progress, m_maxDriftY * m_progress}; }
    // MeshGradient::overscan with this drift's extremes.
    Q_INVOKABLE double overscan(double width, double height) const
    {
        return MeshGradient::overscan(width, height, m_maxDriftX, m_maxDriftY, m_maxScale);
    }

signals:
    void elapsedChanged();
    void isAnimatingChanged();
    void cycleDurationChanged();
    void frameClockChanged();
    void transformChanged();

private:
    void onTick(double now);
    void resubscribe();
    void setProgress(double progress);
    void stillFrame();

    double m_elapsed = 0;
    bool m_animating = false;
    double m_cycleDuration = MeshGradientPalette::cycleDuration;
    double m_maxDriftX = 20;
    double m_maxDriftY = -20;
    double m_maxScale = 1.05;
    double m_progress = 0;
    double m_lastTick = -1e300;
    bool m_stillPlaced = false; // the still field was placed from a positive elapsed
    QPointer<FrameClock> m_clock;
    QMetaObject::Connection m_tickConnection;
};
