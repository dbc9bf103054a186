#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

class ContinuousClock;
class WallClock;

// The flight recorder of the user interface. Any thread reports named events (trace), brackets
// longer steps (beginOperation / endOperation) and leaves last-known state values (setState).
// For every name it keeps the instants of its calls during the last 10 seconds, so the report can
// say how often each name fired; sampled calls are also kept, with their details, in a ring of
// the last 8000 events. When the GUI thread stalls, the watchdog has the probe write all of this
// out as a plain-text report (makeReport / writeReport).
//
// Locking: one mutex guards the bookkeeping below and nothing else. It is held while numbers and
// records are copied in or out; clock reads, tracing, formatting, logging and file writes all
// happen outside it, so nothing that runs under it can call back into the probe.
//
// Times: "uptime" is the uptime clock in nanoseconds; records carry seconds since the probe was
// made (its boot).
class RenderLoopProbe
{
public:
    struct Event
    {
        quint64 sequence = 0;
        QDateTime timestamp; // wall-clock time at which it was stored
        double uptime = 0;   // seconds since the probe's boot
        QString name;
        QString detail;
        QString thread;
    };

    struct ActiveOperation
    {
        quint64 id = 0;
        QString name;
        QString detail;
        QDateTime startedAt;
        double uptime = 0; // seconds since the probe's boot at the beginning
        QString thread;
    };

    struct FrequencyRow
    {
        QString name;
        int count = 0;
    };

    // A consistent copy of the probe's data, in report order.
    struct Snapshot
    {
        QList<Event> events;                        // oldest first
        QList<ActiveOperation> operations;          // longest-open first
        QList<std::pair<QString, QString>> state;   // by key
        QList<FrequencyRow> frequencyRows;          // by count descending, then name
    };

    static constexpr qsizetype capacity = 8000;
    static constexpr double windowSeconds = 10.0;
    static constexpr int reportedFrequencyRows = 40;
    static constexpr qsizetype reportedEvents = 1200;

    // Clocks default to the system's (uptime: CLOCK_MONOTONIC). dataFolder is the application's
    // data folder; empty means the user's: GenericDataLocation + "/com.cantorella.Cantorella".
    explicit RenderLoopProbe(const ContinuousClock *uptimeClock = nullptr, const WallClock *wallClock = nullptr,
                             QString dataFolder = {});
    RenderLoopProbe(const RenderLoopProbe &) = delete;
    RenderLoopProbe &operator=(const RenderLoopProbe &) = delete;

    // The process-wide probe, made on first use.
    static RenderLoopProbe &shared();

    // Counts a call of `name`; stores it as an event only when `every` is not 0 and the probe-wide
    // sequence number of this call is a multiple of `every` (1 stores every call).
    void trace(const QString &name, const QString &detail = {}, quint64 every = 1);
    // Opens a timed operation and traces "<name>.begin"; returns its id (ids start at 1).
    quint64 beginOperation(const QString &name, const QString &detail = {});
    // Closes an operation and traces "<name>.end" with its elapsed time, or
    // "diagnostics.operationEndMissingBegin" when the id is not open.
    void endOperation(quint64 id, const QString &detail = {});
    // Sets a last-known state value; keys are never removed. Takes the probe's lock itself:
    // the lock is never handed to callers.
    void setState(const QString &key, const QString &value);

    // The report text: lines joined by "\n", no line feed after the last one.
    QString makeReport(const QString &reason) const;
    // Writes the report atomically to "hang-<local time>.log" and "latest-hang.log" in the
    // diagnostics folder. Returns the time-stamped file's path, or nothing when a write failed
    // (the failure is logged).
    std::optional<QString> writeReport(const QString &reason) const;
    // "<data folder>/Diagnostics", created with its missing parents. Empty when it cannot be made
    // (then *error, when given, says why).
    QString diagnosticsDirectory(QString *error = nullptr) const;

    // The data at a cut-off uptime (nanoseconds on the uptime clock): names are counted from it on.
    Snapshot snapshot(qint64 cutoffUptime) const;

    // "main" on the GUI thread; else the current QThread's object name when it has one; else
    // "background".
    static QString threadLabel();

    const ContinuousClock *uptimeClock() const { return m_uptimeClock; }
    const WallClock *wallClock() const { return m_wallClock; }
    qint64 bootUptime() const { return m_boot; }

private:
    qint64 nowUptime() const;
    double relative(qint64 uptime) const { return double(uptime - m_boot) / 1e9; }

    const ContinuousClock *m_uptimeClock;
    const WallClock *m_wallClock;
    QString m_dataFolder;
    const qint64 m_boot;

    mutable std::mutex m_lock;
    // Guarded by m_lock:
    quint64 m_sequence = 0;
    quint64 m_operationSequence = 0;
    std::vector<Event> m_ring; // grows to `capacity`, then wraps at m_ringHead (the oldest)
    size_t m_ringHead = 0;
    std::map<quint64, ActiveOperation> m_activeOperations;
    QHash<QString, std::deque<qint64>> m_eventTimesByName; // call uptimes in call order
    QMap<QString, QString> m_lastState;
};
