#include "OffsetSliderController.h"

#include "PlayerFormat.h"

#include <algorithm>

OffsetSliderController::OffsetSliderController(QObject *parent)
    : QObject(parent)
{
}

OffsetSliderController::~OffsetSliderController()
{
    m_lifetime.cancel();
}

void OffsetSliderController::setVm(PlayerViewModel *vm)
{
    if (m_vm == vm)
        return;
    if (m_vm)
        m_vm->disconnect(this);
    m_vm = vm;
    if (vm) {
        connect(vm, &PlayerViewModel::effectiveOffsetChanged, this, &OffsetSliderController::valueChanged);
        connect(vm, &PlayerViewModel::trackChanged, this, &OffsetSliderController::showsResetChanged);
        connect(vm, &PlayerViewModel::perSongOffsetChanged, this, &OffsetSliderController::showsResetChanged);
    }
    emit vmChanged();
    emit valueChanged();
    emit showsResetChanged();
}

void OffsetSliderController::setClocks(ClockHandle *clocks)
{
    if (m_clocks == clocks)
        return;
    m_clocks = clocks;
    emit clocksChanged();
}

double OffsetSliderController::value() const
{
    return m_vm ? m_vm->effectiveOffset() : 0.0;
}

QString OffsetSliderController::valueText() const
{
    return PlayerFormat::offsetLabel(value());
}

bool OffsetSliderController::showsReset() const
{
    return m_vm && m_vm->track() && m_vm->perSongOffset().contains(m_vm->track()->songKey());
}

void OffsetSliderController::setValue(double value)
{
    if (!m_vm)
        return;
    const double clamped = std::max(std::min(value, limit), -limit);
    if (clamped != value) {
        // Each clamp ends its own flash 0.1 s later, whatever came in between.
        setAtBoundary(true);
        endFlashLater(QPointer<OffsetSliderController>(this),
                      m_clocks ? m_clocks->continuous() : ContinuousClock::system(), m_lifetime);
    }
    m_vm->setEffectiveOffset(clamped);
}

void OffsetSliderController::reset()
{
    if (m_vm)
        m_vm->resetPerSongOffset();
}

void OffsetSliderController::setAtBoundary(bool atBoundary)
{
    if (m_atBoundary == atBoundary)
        return;
    m_atBoundary = atBoundary;
    emit atBoundaryChanged();
}

QCoro::Task<void> OffsetSliderController::endFlashLater(QPointer<OffsetSliderController> self, ContinuousClock *clock,
                                                        CancellationToken token)
{
    const std::chrono::nanoseconds delay = flashDuration;
    try {
        co_await clock->sleepFor(delay, token);
    } catch (const CancelledError &) {
        co_return;
    }
    if (self)
        self->setAtBoundary(false);
}
