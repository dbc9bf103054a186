#include "ui/design/Motion.h"

#include <cmath>
#include <numbers>

int MotionCurve::easingType() const
{
    return m_shape == Shape::linear ? QEasingCurve::Linear : QEasingCurve::BezierSpline;
}

QVariantList MotionCurve::bezierFor(Shape shape)
{
    // Qt's spline form: control point 1, control point 2, end point (1, 1).
    switch (shape) {
    case Shape::easeInOut:
        return {0.42, 0.0, 0.58, 1.0, 1.0, 1.0};
    case Shape::easeOut:
        return {0.0, 0.0, 0.58, 1.0, 1.0, 1.0};
    case Shape::easeIn:
        return {0.42, 0.0, 1.0, 1.0, 1.0, 1.0};
    case Shape::linear:
        break;
    }
    return {};
}

QEasingCurve MotionCurve::easing() const
{
    if (m_shape == Shape::linear)
        return QEasingCurve(QEasingCurve::Linear);
    const QVariantList b = bezierFor(m_shape);
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(b[0].toDouble(), b[1].toDouble()),
                                QPointF(b[2].toDouble(), b[3].toDouble()), QPointF(1, 1));
    return curve;
}

namespace Motion {

double phase(double t, double period)
{
    if (!(period > 0))
        return 0;
    double r = std::fmod(t, period);
    if (r < 0)
        r += period;
    return r / period;
}

double breathe(double t, double period, double base, double amplitude)
{
    const double s = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * phase(t, period));
    return base + amplitude * s;
}

} // namespace Motion
