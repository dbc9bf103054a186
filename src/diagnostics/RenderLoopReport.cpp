// The render-loop report: its text, line by line, and the two files it is written to.
#include "diagnostics/RenderLoopProbe.h"

#include "core/AppLog.h"
#include "platform/Clock.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>
#include <QSysInfo>

#include <cxxabi.h>
#include <errno.h>
#include <execinfo.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr qint64 windowNanoseconds = qint64(RenderLoopProbe::windowSeconds * 1e9);

// Local time, the way every time in the report and the file name is shown.
QString formatTimestamp(const QDateTime &time)
{
    return QLocale::c().toString(time.toLocalTime(), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString formatFileStamp(const QDateTime &time)
{
    return QLocale::c().toString(time.toLocalTime(), QStringLiteral("yyyyMMdd-HHmmss"));
}

QString detailSuffix(const QString &detail)
{
    return detail.isEmpty() ? QString() : QLatin1String(" | ") + detail;
}

QString processName()
{
    return QString::fromLocal8Bit(program_invocation_short_name);
}

QString osVersion()
{
    return QSysInfo::prettyProductName() + QLatin1String(", kernel ") + QSysInfo::kernelVersion();
}

// The machine is in low-power mode when the firmware's platform profile (which the desktop's
// power-saver setting drives) says so; machines without one are not.
bool lowPowerMode()
{
    QFile profile(QStringLiteral("/sys/firmware/acpi/platform_profile"));
    if (!profile.open(QIODevice::ReadOnly))
        return false;
    return profile.readAll().trimmed() == "low-power";
}

// "binary(_ZN3Foo3barEv+0x1c) [0x…]" becomes "binary(Foo::bar()+0x1c) [0x…]".
QString demangledFrame(const char *symbol)
{
    QString line = QString::fromLocal8Bit(symbol);
    const char *open = std::strchr(symbol, '(');
    const char *plus = open ? std::strchr(open, '+') : nullptr;
    if (!open || !plus || plus == open + 1)
        return line;
    const std::string mangled(open + 1, plus);
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status), &std::free);
    if (status != 0 || !readable)
        return line;
    return QString::fromLocal8Bit(symbol, int(open + 1 - symbol)) + QString::fromLocal8Bit(readable.get())
        + QString::fromLocal8Bit(plus);
}

// The call stack of the calling thread. Another thread's stack cannot be read safely.
QStringList currentThreadStack()
{
    void *frames[64];
    const int count = backtrace(frames, 64);
    QStringList lines;
    std::unique_ptr<char *, decltype(&std::free)> symbols(backtrace_symbols(frames, count), &std::free);
    if (!symbols)
        return lines;
    for (int i = 0; i < count; ++i)
        lines << QString::number(i) + QLatin1String("  ") + demangledFrame(symbols.get()[i]);
    return lines;
}

bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = path + QLatin1String(": ") + file.errorString();
    return false;
}

} // namespace

QString RenderLoopProbe::makeReport(const QString &reason) const
{
    const qint64 now = nowUptime();
    const Snapshot snap = snapshot(now - windowNanoseconds);
    const QString window = QString::number(qint64(windowSeconds));

    QStringList lines;
    lines << QStringLiteral("Cantorella Render Loop Diagnostics");
    lines << QLatin1String("reason: ") + reason;
    lines << QLatin1String("createdAt: ") + formatTimestamp(m_wallClock->now());
    lines << QLatin1String("windowSeconds: ") + window;
    lines << QLatin1String("process: pid=") + QString::number(getpid()) + QLatin1String(" name=") + processName();
    lines << QString::asprintf("uptime: %.3fs", relative(now));
    lines << QLatin1String("os: ") + osVersion();
    // Linux has no system-wide thermal pressure level to report.
    lines << QStringLiteral("thermalState: unknown");
    lines << QLatin1String("lowPowerMode: ") + QLatin1String(lowPowerMode() ? "true" : "false");
    lines << QString();

    lines << QLatin1String("Top events in last ") + window + QLatin1String(" seconds:");
    for (const FrequencyRow &row : snap.frequencyRows.mid(0, reportedFrequencyRows))
        lines << QString::asprintf("%7d  ", row.count) + row.name;
    lines << QString();

    lines << QStringLiteral("Active operations:");
    if (snap.operations.isEmpty())
        lines << QStringLiteral("(none)");
    for (const ActiveOperation &op : snap.operations) {
        const double age = relative(now) - op.uptime;
        lines << QString::asprintf("#%llu age=%.3fs started=", op.id, age) + formatTimestamp(op.startedAt)
                + QString::asprintf(" +%.3fs [", op.uptime) + op.thread + QLatin1String("] ") + op.name
                + detailSuffix(op.detail);
    }
    lines << QString();

    lines << QStringLiteral("Last known state:");
    if (snap.state.isEmpty())
        lines << QStringLiteral("(none)");
    for (const auto &[key, value] : snap.state)
        lines << key + QLatin1String(": ") + value;
    lines << QString();

    lines << QStringLiteral("Recent events:");
    const qsizetype first = std::max<qsizetype>(0, snap.events.size() - reportedEvents);
    for (qsizetype i = first; i < snap.events.size(); ++i) {
        const Event &e = snap.events.at(i);
        lines << QLatin1Char('#') + QString::number(e.sequence) + QLatin1Char(' ') + formatTimestamp(e.timestamp)
                + QString::asprintf(" +%.3fs [", e.uptime) + e.thread + QLatin1String("] ") + e.name
                + detailSuffix(e.detail);
    }
    lines << QString();

    lines << QStringLiteral("Watchdog thread stack:");
    lines << currentThreadStack();
    lines << QString();

    lines << QStringLiteral(
        "Note: Linux does not expose another thread's call stack to this application in a way it can read "
        "safely, so the stack above is the reporting thread's own. The useful signal here is the event frequency "
        "table and the last events before the main thread stopped acknowledging pings.");
    return lines.join(QLatin1Char('\n'));
}

QString RenderLoopProbe::diagnosticsDirectory(QString *error) const
{
    QString base = m_dataFolder;
    if (base.isEmpty()) {
        base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + QLatin1String("/com.cantorella.Cantorella");
    }
    const QString folder = base + QLatin1String("/Diagnostics");
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QLatin1String("could not create the folder ") + folder;
        return {};
    }
    return folder;
}

std::optional<QString> RenderLoopProbe::writeReport(const QString &reason) const
{
    const QByteArray text = makeReport(reason).toUtf8();
    QString error;
    const QString folder = diagnosticsDirectory(&error);
    const QString path = folder + QLatin1String("/hang-") + formatFileStamp(m_wallClock->now()) + QLatin1String(".log");
    // A time-stamped file that was written stays when the copy fails.
    if (folder.isEmpty() || !writeAtomically(path, text, &error)
        || !writeAtomically(folder + QLatin1String("/latest-hang.log"), text, &error)) {
        qCWarning(lcDiagnostics, "Failed to write render-loop diagnostics: %s", qUtf8Printable(error));
        return std::nullopt;
    }
    qCWarning(lcDiagnostics, "Wrote render-loop diagnostics: %s", qUtf8Printable(path));
    return path;
}
