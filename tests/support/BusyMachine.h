#pragma once

// Whether timing figures (how closely a position follows a player) can be held to their goals:
// on a busy machine, with more runnable work than cores or the test's own waits coming back
// late, they say more about the machine than about the code. Tests report their figures then
// and only check that the code follows at all.

#include <QByteArray>
#include <QFile>
#include <QList>

#include <algorithm>
#include <thread>

namespace BusyMachine {

// The load average of the last minute per core; 0 when unknown.
inline double loadPerCore()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readLine().split(' ').value(0).toDouble() / std::max(1u, std::thread::hardware_concurrency());
}

// `lateMs`: how much later than asked each of the test's waits came back.
inline bool tooBusyForFigures(QList<double> lateMs)
{
    std::sort(lateMs.begin(), lateMs.end());
    const bool late = !lateMs.isEmpty() && (lateMs[lateMs.size() * 9 / 10] > 5 || lateMs.last() > 50);
    return late || loadPerCore() >= 1;
}

} // namespace BusyMachine
