#pragma once

#include <QEasingCurve>
#include <QPointF>
#include <QObject>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class QQmlEngine;
class QJSEngine;

// One named animation: a duration and one of the four curves the design uses. The béziers
// are exact (ease-in-out 0.42,0,0.58,1; ease-out 0,0,0.58,1; ease-in 0.42,0,1,1), not Qt's
// quadratic presets. In QML: `duration: c.duration; easing.type: c.easingType;
// easing.bezierCurve: c.bezierCurve`.
class MotionCurve
{
    Q_GADGET
    QML_VALUE_TYPE(motionCurve)
    Q_PROPERTY(int duration READ durationMs CONSTANT)
    Q_PROPERTY(int easingType READ easingType CONSTANT)
    Q_PROPERTY(QVariantList bezierCurve READ bezierCurve CONSTANT)

public:
    enum class Shape { easeInOut, easeOut, easeIn, linear };

    constexpr MotionCurve() = default;
    constexpr MotionCurve(Shape shape, double seconds) : m_shape(shape), m_seconds(seconds) {}

    constexpr Shape shape() const { return m_shape; }
    constexpr double seconds() const { return m_seconds; }
    constexpr int durationMs() const { return int(m_seconds * 1000.0 + 0.5); }
    int easingType() const;
    QVariantList bezierCurve() const { return bezierFor(m_shape); }
    QEasingCurve easing() const;

    static QVariantList bezierFor(Shape shape);
    constexpr bool operator==(const MotionCurve &) const = default;

private:
    Shape m_shape = Shape::easeInOut;
    double m_seconds = 0.35;
};

// The named animation values: durations and periods in seconds, factors unit-less.
namespace Motion {

namespace Duration {
inline constexpr double tabSwitch = 0.32;
inline constexpr double easeOutMedium = 0.4;
inline constexpr double easeInShort = 0.25;
inline constexpr double easeInOutMedium = 0.4;
inline constexpr double easeOutShort = 0.3;
inline constexpr double crossfade = 0.4;
} // namespace Duration

namespace Curve {
using S = MotionCurve::Shape;
inline constexpr MotionCurve tabSwitch{S::easeInOut, Duration::tabSwitch};
inline constexpr MotionCurve easeOutMedium{S::easeOut, Duration::easeOutMedium};
inline constexpr MotionCurve easeInShort{S::easeIn, Duration::easeInShort};
inline constexpr MotionCurve easeInOutMedium{S::easeInOut, Duration::easeInOutMedium};
inline constexpr MotionCurve easeOutShort{S::easeOut, Duration::easeOutShort};
inline constexpr MotionCurve crossfade{S::easeInOut, Duration::crossfade};
inline constexpr MotionCurve toast{S::easeInOut, 0.2};
// A button's opacity and scale following a press.
inline constexpr MotionCurve press{S::easeInOut, 0.12};
inline constexpr MotionCurve preflight{S::linear, 2.0};
} // namespace Curve

namespace Period {
inline constexpr double quick = 1.5;
inline constexpr double medium = 2.0;
inline constexpr double slow = 6.0;
inline constexpr double panelBreath = 6.0;
inline constexpr double idleHeroBreath = 5.0;
} // namespace Period

namespace Amplitude {
inline constexpr double tiny = 0.012;
inline constexpr double soft = 0.15;
inline constexpr double panelBreathScale = 0.04;
inline constexpr double medium = 0.2;
inline constexpr double idleHeroOpacityMin = 0.55;
inline constexpr double idleHeroOpacityMax = 0.95;
inline constexpr double scaleUp = 1.008;
inline constexpr double pulseMin = 0.55;
inline constexpr double pulseMax = 0.85;
inline constexpr double faint = 0.12;
inline constexpr int count = 1;
} // namespace Amplitude

// Position inside the current cycle, in [0, 1); 0 for a period that is not positive.
double phase(double t, double period);
// base + amplitude × (0.5 + 0.5 sin 2πp): 0.5 at a cycle's start, up to 1, down to 0, back.
double breathe(double t, double period, double base, double amplitude);

} // namespace Motion

// The tokens for QML, as the `Motion` singleton.
class MotionTokens : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Motion)
    QML_SINGLETON

    Q_PROPERTY(MotionCurve tabSwitch READ tabSwitch CONSTANT)
    Q_PROPERTY(MotionCurve easeOutMedium READ easeOutMedium CONSTANT)
    Q_PROPERTY(MotionCurve easeInShort READ easeInShort CONSTANT)
    Q_PROPERTY(MotionCurve easeInOutMedium READ easeInOutMedium CONSTANT)
    Q_PROPERTY(MotionCurve easeOutShort READ easeOutShort CONSTANT)
    Q_PROPERTY(MotionCurve crossfade READ crossfade CONSTANT)
    Q_PROPERTY(MotionCurve toast READ toast CONSTANT)
    Q_PROPERTY(MotionCurve press READ press CONSTANT)
    Q_PROPERTY(MotionCurve preflight READ preflight CONSTANT)
    // Bare curves for animations whose duration a view states itself.
    Q_PROPERTY(QVariantList easeInOut READ easeInOut CONSTANT)
    Q_PROPERTY(QVariantList easeOut READ easeOut CONSTANT)
    Q_PROPERTY(QVariantList easeIn READ easeIn CONSTANT)

public:
    MotionCurve tabSwitch() const { return Motion::Curve::tabSwitch; }
    MotionCurve easeOutMedium() const { return Motion::Curve::easeOutMedium; }
    MotionCurve easeInShort() const { return Motion::Curve::easeInShort; }
    MotionCurve easeInOutMedium() const { return Motion::Curve::easeInOutMedium; }
    MotionCurve easeOutShort() const { return Motion::Curve::easeOutShort; }
    MotionCurve crossfade() const { return Motion::Curve::crossfade; }
    MotionCurve toast() const { return Motion::Curve::toast; }
    MotionCurve press() const { return Motion::Curve::press; }
    MotionCurve preflight() const { return Motion::Curve::preflight; }
    QVariantList easeInOut() const { return MotionCurve::bezierFor(MotionCurve::Shape::easeInOut); }
    QVariantList easeOut() const { return MotionCurve::bezierFor(MotionCurve::Shape::easeOut); }
    QVariantList easeIn() const { return MotionCurve::bezierFor(MotionCurve::Shape::easeIn); }

    Q_INVOKABLE double phase(double t, double period) const { return Motion::phase(t, period); }
    Q_INVOKABLE double breathe(double t, double period, double base, double amplitude) const
    {
        return Motion::breathe(t, period, base, amplitude);
    }

    static MotionTokens *create(QQmlEngine *, QJSEngine *) { return new MotionTokens; }
};
