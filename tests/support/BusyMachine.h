#pragma once

// Whether timing figures (how closely a position follows a player) can be held to their goals:
// on a busy machine, with more runnable work than cores or the test's own waits coming back
// late, they say more about the machine than about the code. Tests report their figures then
// and only check that the code follows at all.

#include <QByteArray>
#include <QFile>
#include <QList>

#include <sched.h>

#include <algorithm>
#include <thread>

namespace BusyMachine {

// The cores this process may run on: a run pinned to a few cores (taskset) shares only those.
inline int usableCores()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        return CPU_COUNT(&allowed);
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

// The load average of the last minute per usable core; 0 when unknown. The load counts the
// whole machine's runnable work, so a pinned run reads it as busier than it may be: figures are
// then reported rather than checked, never the other way round.
inline double loadPerCore()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readLine().split(' ').value(0).toDouble() / usableCores();
}

// `lateMs`: how much later than asked each of the test's waits came back.
inline bool tooBusyForFigures(QList<double> lateMs)
{
    std::sort(lateMs.begin(), lateMs.end());
    const bool late = !lateMs.isEmpty() && (lateMs[lateMs.size() * 9 / 10] > 5 || lateMs.last() > 50);
    return late || loadPerCore() >= 1;
}

} // namespace BusyMachine
