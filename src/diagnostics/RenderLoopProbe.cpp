#include "diagnostics/RenderLoopProbe.h"

#include "diagnostics/UptimeClock.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

#include <unistd.h>

namespace {
constexpr qint64 windowNanoseconds = qint64(RenderLoopProbe::windowSeconds * 1e9);
}

RenderLoopProbe::RenderLoopProbe(const ContinuousClock *uptimeClock, const WallClock *wallClock, QString dataFolder)
    : m_uptimeClock(uptimeClock ? uptimeClock : SystemUptimeClock::instance())
    , m_wallClock(wallClock ? wallClock : WallClock::system())
    , m_dataFolder(std::move(dataFolder))
    , m_boot(m_uptimeClock->now().nanoseconds)
{
}

RenderLoopProbe &RenderLoopProbe::shared()
{
    // Never destroyed: other threads may still trace while statics are torn down at exit.
    static RenderLoopProbe *const probe = new RenderLoopProbe();
    return *probe;
}

qint64 RenderLoopProbe::nowUptime() const
{
    return m_uptimeClock->now().nanoseconds;
}

QString RenderLoopProbe::threadLabel()
{
    QThread *current = QThread::currentThread();
    const QCoreApplication *app = QCoreApplication::instance();
    // Without an application object the GUI thread is the process's first thread.
    if (app ? current == app->thread() : gettid() == getpid())
        return QStringLiteral("main");
    // Only a thread's own QThread object is asked; Linux gives every unnamed OS thread the
    // process name, so the OS-level name would not tell threads apart.
    QString name = current ? current->objectName() : QString();
    if (!name.isEmpty())
        return name;
    return QStringLiteral("background");
}

void RenderLoopProbe::trace(const QString &name, const QString &detail, quint64 every)
{
    const qint64 uptime = nowUptime();
    Event evicted;
    {
        std::lock_guard guard(m_lock);
        const quint64 sequence = ++m_sequence;

        auto it = m_eventTimesByName.find(name);
        if (it == m_eventTimesByName.end())
            it = m_eventTimesByName.insert(name, {});
        std::deque<qint64> &times = *it;
        times.push_back(uptime);
        // Uptimes are read before the lock, so two threads may append slightly out of order:
        // prune only from the front and stop at the first entry inside the window.
        const qint64 cutoff = uptime - windowNanoseconds;
        while (!times.empty() && times.front() < cutoff)
            times.pop_front();

        if (every == 0 || sequence % every != 0)
            return;

        Event event{sequence, m_wallClock->now(), relative(uptime), name, detail, threadLabel()};
        if (qsizetype(m_ring.size()) < capacity) {
            m_ring.push_back(std::move(event));
        } else {
            // The slot of the oldest event takes the new one; the old one is freed after unlocking.
            std::swap(m_ring[m_ringHead], event);
            evicted = std::move(event);
            m_ringHead = (m_ringHead + 1) % m_ring.size();
        }
    }
}

quint64 RenderLoopProbe::beginOperation(const QString &name, const QString &detail)
{
    const qint64 uptime = nowUptime();
    ActiveOperation operation{0, name, detail, m_wallClock->now(), relative(uptime), threadLabel()};
    quint64 id = 0;
    {
        std::lock_guard guard(m_lock);
        id = ++m_operationSequence;
        operation.id = id;
        m_activeOperations.emplace(id, std::move(operation));
    }
    trace(name + QLatin1String(".begin"), detail, 1);
    return id;
}

void RenderLoopProbe::endOperation(quint64 id, const QString &detail)
{
    const qint64 uptime = nowUptime();
    std::optional<ActiveOperation> ended;
    {
        std::lock_guard guard(m_lock);
        auto it = m_activeOperations.find(id);
        if (it != m_activeOperations.end()) {
            ended = std::move(it->second);
            m_activeOperations.erase(it);
        }
    }
    if (!ended) {
        // The blank after the id is written even for an empty detail.
        trace(QStringLiteral("diagnostics.operationEndMissingBegin"),
              QLatin1String("id=") + QString::number(id) + QLatin1Char(' ') + detail, 1);
        return;
    }
    const double elapsed = relative(uptime) - ended->uptime;
    QString text = QString::asprintf("id=%llu elapsed=%.3fs", id, elapsed);
    if (!detail.isEmpty())
        text += QLatin1Char(' ') + detail;
    trace(ended->name + QLatin1String(".end"), text, 1);
}

void RenderLoopProbe::setState(const QString &key, const QString &value)
{
    std::lock_guard guard(m_lock);
    m_lastState.insert(key, value);
}

RenderLoopProbe::Snapshot RenderLoopProbe::snapshot(qint64 cutoffUptime) const
{
    Snapshot snap;
    {
        std::lock_guard guard(m_lock);
        const size_t stored = m_ring.size();
        snap.events.reserve(qsizetype(stored));
        for (size_t i = 0; i < stored; ++i)
            snap.events.append(m_ring[(m_ringHead + i) % stored]);

        snap.operations.reserve(qsizetype(m_activeOperations.size()));
        for (const auto &entry : m_activeOperations)
            snap.operations.append(entry.second);

        snap.state.reserve(m_lastState.size());
        for (auto it = m_lastState.cbegin(); it != m_lastState.cend(); ++it)
            snap.state.append({it.key(), it.value()});

        snap.frequencyRows.reserve(m_eventTimesByName.size());
        for (auto it = m_eventTimesByName.cbegin(); it != m_eventTimesByName.cend(); ++it) {
            const auto &times = it.value();
            const auto count = std::count_if(times.begin(), times.end(),
                                             [cutoffUptime](qint64 t) { return t >= cutoffUptime; });
            snap.frequencyRows.append({it.key(), int(count)});
        }
    }
    // Sorting happens after the lock is released. Operations come out of the map by id; the
    // stable sort keeps that order among equal start times.
    std::stable_sort(snap.operations.begin(), snap.operations.end(),
                     [](const ActiveOperation &a, const ActiveOperation &b) { return a.uptime < b.uptime; });
    std::stable_sort(snap.frequencyRows.begin(), snap.frequencyRows.end(),
                     [](const FrequencyRow &a, const FrequencyRow &b) {
                         if (a.count != b.count)
                             return a.count > b.count;
                         return a.name < b.name;
                     });
    return snap;
}
