#pragma once

#include "platform/AsyncSignal.h"
#include "platform/Cancellation.h"

#include <QDateTime>
#include <QObject>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <compare>
#include <cstdint>
#include <map>

// An instant on the continuous monotonic clock (keeps counting while the machine sleeps).
struct ContinuousInstant
{
    qint64 nanoseconds = 0;

    double seconds() const { return double(nanoseconds) / 1e9; }
    static ContinuousInstant fromSeconds(double s) { return {qint64(s * 1e9)}; }

    ContinuousInstant operator+(std::chrono::nanoseconds d) const { return {nanoseconds + d.count()}; }
    ContinuousInstant operator-(std::chrono::nanoseconds d) const { return {nanoseconds - d.count()}; }
    std::chrono::nanoseconds operator-(ContinuousInstant other) const
    {
        return std::chrono::nanoseconds(nanoseconds - other.nanoseconds);
    }
    auto operator<=>(const ContinuousInstant &) const = default;
};

// The continuous clock and sleeping until an instant on it. Injected wherever a duration,
// deadline or playback anchor is measured, so tests can drive time by hand.
class ContinuousClock
{
public:
    virtual ~ContinuousClock() = default;
    virtual ContinuousInstant now() const = 0;
    // Ends at or after the deadline, or with CancelledError once the token fires.
    virtual QCoro::Task<void> sleepUntil(ContinuousInstant deadline, CancellationToken token) = 0;

    QCoro::Task<void> sleepFor(std::chrono::nanoseconds duration, CancellationToken token);

    // CLOCK_BOOTTIME; process-wide, never destroyed.
    static ContinuousClock *system();
};

class SystemContinuousClock final : public ContinuousClock
{
public:
    ContinuousInstant now() const override;
    QCoro::Task<void> sleepUntil(ContinuousInstant deadline, CancellationToken token) override;
};


// A clock that only moves when told to. Sleepers wake (queued, on their own thread) once the
// clock reaches their deadline. Use from one thread.
class ManualContinuousClock final : public ContinuousClock
{
public:
    explicit ManualContinuousClock(ContinuousInstant start = {1'000'000'000});
    ContinuousInstant now() const override { return m_now; }
    QCoro::Task<void> sleepUntil(ContinuousInstant deadline, CancellationToken token) override;

    void advance(std::chrono::nanoseconds d);
    void setNow(ContinuousInstant instant);
    // Number of sleeps that have not yet ended (woken or cancelled).
    int pendingSleepers() const { return m_pending; }

private:
    ContinuousInstant m_now;
    int m_pending = 0;
    AsyncSignal m_signal;
};

// The wall clock, used only for stored dates and as a fallback.
class WallClock
{
public:
    virtual ~WallClock() = default;
    virtual QDateTime now() const = 0;
    static WallClock *system();
};

class SystemWallClock final : public WallClock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};

class ManualWallClock final : public WallClock
{
public:
    explicit ManualWallClock(QDateTime start = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC))
        : m_now(std::move(start)) {}
    QDateTime now() const override { return m_now; }
    void setNow(QDateTime t) { m_now = std::move(t); }
    void advance(std::chrono::milliseconds d) { m_now = m_now.addMSecs(d.count()); }

private:
    QDateTime m_now;
};
