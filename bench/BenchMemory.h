#pragma once

// The process's resident memory, for benchmarks that report a peak.

#include <QByteArray>
#include <QFile>

#include <malloc.h>

namespace BenchMemory {

// kB from /proc/self/status ("VmRSS:", "VmHWM:").
inline qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

// Freed memory goes back to the system, then the peak resident set starts again from the
// current one (Linux: clear_refs 5). Returns that resident set, in kB.
inline qint64 startMeasuring()
{
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    return statusKiB("VmRSS:");
}

} // namespace BenchMemory
