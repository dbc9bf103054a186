#pragma once

#include "platform/Clock.h"

// System uptime: CLOCK_MONOTONIC, which stands still while the machine is suspended.
//
// The probe and the watchdog measure how long the GUI thread has been silent. On a clock
// that counts through suspend (CLOCK_BOOTTIME) every suspend longer than the stall threshold
// would look like a hung GUI thread on resume and leave a bogus hang report behind, so they
// read this clock instead. Sleeping on it is only offered to satisfy the interface.
class SystemUptimeClock final : public ContinuousClock
{
public:
    ContinuousInstant now() const override;
    QCoro::Task<void> sleepUntil(ContinuousInstant deadline, CancellationToken token) override;

    // Process-wide, never destroyed.
    static SystemUptimeClock *instance();
};
