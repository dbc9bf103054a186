#include "core/AppLog.h"

#include <atomic>
#include <cmath>

// Q_LOGGING_CATEGORY creates each category once, thread-safely, on first use.
Q_LOGGING_CATEGORY(lcNowPlaying, "com.cantorella.NowPlaying", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSession, "com.cantorella.Session", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLyrics, "com.cantorella.Lyrics", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCards, "com.cantorella.Cards", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPersistence, "com.cantorella.Persistence", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUi, "com.cantorella.UI", QtInfoMsg)
Q_LOGGING_CATEGORY(lcDiagnostics, "com.cantorella.Diagnostics", QtInfoMsg)
Q_LOGGING_CATEGORY(lcWatchdog, "com.cantorella.Watchdog", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPointsOfInterest, "com.cantorella.PointsOfInterest", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, "com.cantorella.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAuth, "com.cantorella.Auth", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlayerViewModel, "com.cantorella.PlayerViewModel", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLyricsSync, "com.cantorella.lyrics-sync", QtInfoMsg)

namespace AppLog {

namespace {
std::atomic<SignpostId> nextSignpostId{1};

// Whole milliseconds, truncated toward zero (a step of 1.9 ms reports 1).
long long wholeMilliseconds(double milliseconds)
{
    return static_cast<long long>(std::trunc(milliseconds));
}
} // namespace

SignpostId makeSignpostId()
{
    return nextSignpostId.fetch_add(1, std::memory_order_relaxed);
}

void signpostBegin(const char *name, SignpostId id)
{
    qCDebug(lcPointsOfInterest, "begin %s id=%llu", name, static_cast<unsigned long long>(id));
}

void signpostEnd(const char *name, SignpostId id)
{
    qCDebug(lcPointsOfInterest, "end %s id=%llu", name, static_cast<unsigned long long>(id));
}

void signpostEvent(const char *name)
{
    qCDebug(lcPointsOfInterest, "event %s", name);
}

double elapsedMilliseconds(ContinuousInstant start, const ContinuousClock *clock)
{
    // Whole seconds and the sub-second rest are converted apart, so long spans keep their
    // sub-millisecond digits.
    const qint64 nanoseconds = clock->now().nanoseconds - start.nanoseconds;
    const qint64 seconds = nanoseconds / 1'000'000'000;
    const qint64 rest = nanoseconds % 1'000'000'000;
    return double(seconds) * 1000.0 + double(rest) * 1e-6;
}

QString errorText(const std::exception &error)
{
    return QString::fromUtf8(error.what());
}

QString errorText(const std::exception_ptr &error)
{
    if (!error)
        return QString();
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return errorText(e);
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

namespace detail {

void logStepSucceeded(const char *name, const QLoggingCategory &logger, ContinuousInstant start,
                      const ContinuousClock *clock)
{
    if (!logger.isDebugEnabled())
        return;
    qCDebug(logger, "%s ok in %lld ms", name, wholeMilliseconds(elapsedMilliseconds(start, clock)));
}

void logStepFailed(const char *name, const QLoggingCategory &logger, ContinuousInstant start,
                   const ContinuousClock *clock, const std::exception_ptr &error)
{
    if (!logger.isWarningEnabled())
        return;
    qCWarning(logger, "%s failed in %lld ms: %s", name, wholeMilliseconds(elapsedMilliseconds(start, clock)),
              qUtf8Printable(errorText(error)));
}

} // namespace detail

} // namespace AppLog
