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
// Empty when unknown.
inline cpu_set_t allowedCores()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        CPU_ZERO(&allowed);
    return allowed;
}

inline int usableCores()
{
    const cpu_set_t allowed = allowedCores();
    if (CPU_COUNT(&allowed) > 0)
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

// How busy the cores this process may run on were since construction, whoever kept them busy:
// the share of their time not idle, from /proc/stat. A test that sleeps between its reads waits
// little for a core itself (the scheduler favours a thread that wakes), yet what it starts and
// times (a child process, a player) runs late when its cores are full. Four busy processes
// pinned to a test's four cores read near 1, while the load average per core of the whole
// machine may stay under 1.
class CoreUse
{
public:
    CoreUse()
        : m_start(read())
    {
    }

    double busyShare() const
    {
        const Times now = read();
        const qint64 total = now.total - m_start.total;
        return total > 0 ? double(now.busy - m_start.busy) / double(total) : 0;
    }

private:
    struct Times
    {
        qint64 busy = 0;
        qint64 total = 0;
    };

    static Times read()
    {
        const cpu_set_t allowed = allowedCores();
        const bool pinned = CPU_COUNT(&allowed) > 0;
        Times times;
        QFile file(QStringLiteral("/proc/stat"));
        if (!file.open(QIODevice::ReadOnly))
            return times;
        // "cpuN user nice system idle iowait irq softirq steal …", in clock ticks.
        for (QByteArray line = file.readLine(); !line.isEmpty(); line = file.readLine()) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 9 || !fields[0].startsWith("cpu") || fields[0] == "cpu")
                continue;
            bool ok = false;
            const int cpu = fields[0].mid(3).toInt(&ok);
            if (!ok || (pinned && !CPU_ISSET(cpu, &allowed)))
                continue;
            qint64 total = 0;
            for (int i = 1; i <= 8; ++i)
                total += fields[i].toLongLong();
            times.total += total;
            times.busy += total - fields[4].toLongLong() - fields[5].toLongLong();
        }
        return times;
    }

    Times m_start;
};

// Above this share of busy time on the test's own cores, figures are reported rather than checked.
inline constexpr double maxQuietCoreUse = 0.75;

// `lateMs`: how much later than asked each of the test's waits came back; `coresBusy`: what
// CoreUse::busyShare() read over the same span.
inline bool tooBusyForFigures(QList<double> lateMs, double coresBusy = 0)
{
    std::sort(lateMs.begin(), lateMs.end());
    const bool late = !lateMs.isEmpty() && (lateMs[lateMs.size() * 9 / 10] > 5 || lateMs.last() > 50);
    return late || loadPerCore() >= 1 || coresBusy > maxQuietCoreUse;
}

} // namespace BusyMachine
