#pragma once

#include <QtGlobal>

#include <optional>

// Decides when the GUI thread's silence is reported: on a tick, the lag since its last
// acknowledgement must reach the stall threshold, and the previous report must be at least
// the report interval back. Plain bookkeeping on uptime nanoseconds; the caller locks.
class StallDetector
{
public:
    static constexpr qint64 stallThreshold = 2'000'000'000; // 2 s
    static constexpr qint64 reportInterval = 4'000'000'000; // 4 s

    explicit StallDetector(qint64 now) : m_lastAck(now) {}

    // The GUI thread ran an acknowledgement (or watching starts afresh).
    void acknowledge(qint64 now) { m_lastAck = now; }

    // A tick at `now`: the lag in seconds when a report is due, which also counts as that report.
    std::optional<double> tick(qint64 now)
    {
        const qint64 lag = now - m_lastAck;
        if (lag < stallThreshold)
            return std::nullopt;
        // The first stall of the process is reported at once, however soon after start.
        if (m_lastReport && now - *m_lastReport < reportInterval)
            return std::nullopt;
        m_lastReport = now;
        return double(lag) / 1e9;
    }

private:
    qint64 m_lastAck;
    std::optional<qint64> m_lastReport;
};
