#include "ui/library/StoryButtonModel.h"

#include "session/player/PlayerViewModel.h"
#include "ui/design/FrameClock.h"

#include <cmath>
#include <numbers>

StoryButtonModel::StoryButtonModel(QObject *parent)
    : QObject(parent)
{
}

StoryButtonModel::~StoryButtonModel()
{
    if (m_clock)
        m_clock->release(this);
}

void StoryButtonModel::setVm(PlayerViewModel *vm)
{
    if (m_vm == vm)
        return;
    for (const auto &connection : std::as_const(m_vmConnections))
        disconnect(connection);
    m_vmConnections.clear();
    m_vm = vm;
    if (vm) {
        m_vmConnections = {
            connect(vm, &PlayerViewModel::currentStoryChanged, this, &StoryButtonModel::refresh),
            connect(vm, &PlayerViewModel::isStoryModalOpenChanged, this, &StoryButtonModel::refresh),
        };
    }
    emit vmChanged();
    refresh();
}

QObject *StoryButtonModel::frameClock() const
{
    return m_clock;
}

void StoryButtonModel::setFrameClock(QObject *clock)
{
    auto *frameClock = qobject_cast<FrameClock *>(clock);
    if (m_clock == frameClock)
        return;
    if (m_clock) {
        disconnect(m_tickConnection);
        m_clock->release(this);
    }
    m_clock = frameClock;
    m_glowing = false; // re-evaluated below against the new clock
    emit frameClockChanged();
    refresh();
}

void StoryButtonModel::setReduceMotion(bool reduce)
{
    if (m_reduceMotion == reduce)
        return;
    m_reduceMotion = reduce;
    emit reduceMotionChanged();
    refresh();
}

void StoryButtonModel::setShown(bool shown)
{
    if (m_shown == shown)
        return;
    m_shown = shown;
    emit shownChanged();
    refresh();
}

QString StoryButtonModel::accessibleName() const
{
    return m_ready ? QStringLiteral("Show song story (ready)") : QStringLiteral("Song story");
}

QString StoryButtonModel::helpText() const
{
    return m_ready ? QStringLiteral("Show Song Story") : QStringLiteral("Song Story");
}

double StoryButtonModel::opacityAtPhase(double phase)
{
    return 0.7 + 0.3 * (0.5 + 0.5 * std::sin(2 * std::numbers::pi * phase));
}

double StoryButtonModel::phaseAt(double seconds)
{
    const double phase = std::fmod(seconds, breathPeriod) / breathPeriod;
    return phase < 0 ? phase + 1 : phase;
}

void StoryButtonModel::press()
{
    if (m_vm && m_vm->currentStory())
        m_vm->setIsStoryModalOpen(true);
}

void StoryButtonModel::refresh()
{
    const bool ready = m_vm && m_vm->currentStory() && !m_vm->isStoryModalOpen();
    if (ready != m_ready) {
        m_ready = ready;
        emit readyChanged();
    }
    const bool glowing = m_ready && m_shown && !m_reduceMotion && m_clock;
    if (glowing != m_glowing) {
        m_glowing = glowing;
        if (glowing) {
            m_tickConnection = m_clock->connectSteps(this, [this](double now) { onTick(now); });
            m_clock->hold(this, FrameClock::Pace::Ambient);
            onTick(m_clock->now());
        } else {
            disconnect(m_tickConnection);
            if (m_clock)
                m_clock->release(this);
        }
        emit glowingChanged();
    }
    if (!m_glowing)
        setGlowOpacity(1.0);
}

void StoryButtonModel::onTick(double now)
{
    setGlowOpacity(opacityAtPhase(phaseAt(now)));
}

void StoryButtonModel::setGlowOpacity(double opacity)
{
    if (opacity == m_glowOpacity)
        return;
    m_glowOpacity = opacity;
    emit glowOpacityChanged();
}
