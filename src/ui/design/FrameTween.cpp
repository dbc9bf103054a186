#include "ui/design/FrameTween.h"

#include <algorithm>
#include <chrono>

FrameTween::FrameTween(QObject *parent)
    : QObject(parent)
{
    m_unpaced.setStartValue(0.0);
    m_unpaced.setEndValue(1.0);
    connect(&m_unpaced, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setProgress(value.toDouble()); });
    connect(&m_unpaced, &QVariantAnimation::finished, this, [this] {
        setProgress(1.0);
        setRunning(false);
    });
}

FrameTween::~FrameTween()
{
    if (m_clock)
        m_clock->release(this);
}

void FrameTween::setFrameClock(QObject *clock)
{
    auto *frameClock = qobject_cast<FrameClock *>(clock);
    if (m_clock == frameClock)
        return;
    // A transition under way when its clock changes lands where it was going: stopped, it
    // would stay half-way for good.
    const bool wasRunning = m_running;
    stop();
    if (wasRunning)
        setProgress(1.0);
    m_clock = frameClock;
    emit frameClockChanged();
}

void FrameTween::setAmbientPace(bool ambient)
{
    if (m_ambientPace == ambient)
        return;
    m_ambientPace = ambient;
    repace();
    emit ambientPaceChanged();
}

void FrameTween::setScrollPace(bool scroll)
{
    if (m_scrollPace == scroll)
        return;
    m_scrollPace = scroll;
    repace();
    emit scrollPaceChanged();
}

FrameClock::Pace FrameTween::pace() const
{
    if (m_ambientPace)
        return FrameClock::Pace::Ambient;
    return m_scrollPace ? FrameClock::Pace::Scroll : FrameClock::Pace::Transition;
}

void FrameTween::repace()
{
    if (m_running && m_paced && m_clock)
        m_clock->hold(this, pace());
}

void FrameTween::start(double seconds, bool linear)
{
    stop();
    // A start always announces its first value, even one equal to the last.
    if (!(seconds > 0)) {
        m_progress = 1.0;
        emit progressChanged();
        return;
    }
    m_paced = m_clock && m_clock->pacesTransitions();
    m_start = m_paced ? m_clock->frameTime() : 0.0;
    m_seconds = seconds;
    m_curve = MotionCurve(linear ? MotionCurve::Shape::linear : MotionCurve::Shape::easeInOut, seconds).easing();
    m_progress = 0.0;
    emit progressChanged();
    setRunning(true);
    if (m_paced) {
        m_tick = connect(m_clock, &FrameClock::ticked, this, &FrameTween::onTick);
        m_clock->hold(this, pace());
    } else {
        m_unpaced.setDuration(int(seconds * 1000.0 + 0.5));
        m_unpaced.setEasingCurve(m_curve);
        m_unpaced.start();
    }
}

void FrameTween::stop()
{
    if (!m_running)
        return;
    disconnect(m_tick);
    if (m_clock && m_paced)
        m_clock->release(this);
    m_unpaced.stop();
    setRunning(false);
}

void FrameTween::onTick(double now)
{
    const double t = (now - m_start) / m_seconds;
    // At the ambient pace a tick is a tenth of a second: the tick nearest the end lands the
    // transition. The first tick after the end would come up to a whole interval late, for a
    // last step that moves the values by a few per cent and costs a frame of its own.
    const double halfStep = m_ambientPace && m_clock
        ? std::chrono::duration<double>(FrameClock::interval(m_clock->renderProfile(), pace())).count() / 2
        : 0.0;
    if (t >= 1.0 || now + halfStep >= m_start + m_seconds) {
        setProgress(1.0);
        stop();
        return;
    }
    setProgress(m_curve.valueForProgress(std::max(0.0, t)));
}

void FrameTween::setProgress(double progress)
{
    if (m_progress == progress)
        return;
    m_progress = progress;
    emit progressChanged();
}

void FrameTween::setRunning(bool running)
{
    if (m_running == running)
        return;
    m_running = running;
    emit runningChanged();
}
