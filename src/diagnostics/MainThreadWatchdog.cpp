#include "diagnostics/MainThreadWatchdog.h"

#include "core/AppLog.h"
#include "diagnostics/RenderLoopProbe.h"
#include "diagnostics/StallDetector.h"
#include "diagnostics/UptimeClock.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <mutex>

static_assert(qint64(MainThreadWatchdog::stallThreshold * 1e9) == StallDetector::stallThreshold);
static_assert(qint64(MainThreadWatchdog::dumpInterval * 1e9) == StallDetector::reportInterval);

// Shared between the watchdog object, its thread and the acknowledgements queued on the GUI
// thread, so that none of them outlives what it touches.
struct MainThreadWatchdog::State
{
    RenderLoopProbe *probe;
    const ContinuousClock *clock;

    std::mutex lock;
    // Guarded by lock:
    StallDetector detector;
    bool isRunning = false;
    QThread *thread = nullptr;
    QMetaObject::Connection quitConnection;

    State(RenderLoopProbe *p, const ContinuousClock *c) : probe(p), clock(c), detector(c->now().nanoseconds) {}

    qint64 now() const { return clock->now().nanoseconds; }
};

namespace {

using State = MainThreadWatchdog::State;

// Runs on the GUI thread.
void acknowledge(const std::shared_ptr<State> &state)
{
    const qint64 now = state->now();
    {
        std::lock_guard guard(state->lock);
        if (!state->isRunning)
            return;
        state->detector.acknowledge(now);
    }
    state->probe->trace(QStringLiteral("watchdog.mainAck"), QString(), 20);
}

// Runs on the watchdog thread every ping interval.
void tick(const std::shared_ptr<State> &state)
{
    const qint64 now = state->now();
    // One acknowledgement per tick, whether or not the earlier ones have run. The lag below is
    // measured before this one can run, so a healthy GUI thread shows about one ping interval.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [state] { acknowledge(state); }, Qt::QueuedConnection);

    std::optional<double> lag;
    {
        std::lock_guard guard(state->lock);
        lag = state->detector.tick(now);
    }
    if (!lag)
        return;
    state->probe->trace(QStringLiteral("watchdog.mainThreadStall"), QString::asprintf("lag=%.2fs", *lag), 1);
    state->probe->writeReport(QString::asprintf("main thread did not acknowledge watchdog ping for %.2fs", *lag));
}

class WatchdogThread final : public QThread
{
public:
    explicit WatchdogThread(std::shared_ptr<State> state) : m_state(std::move(state))
    {
        setObjectName(QStringLiteral("com.cantorella.main-thread-watchdog"));
    }

protected:
    void run() override
    {
        // The timer lives and fires on this thread; its first tick is one interval after start.
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(std::chrono::milliseconds(qint64(MainThreadWatchdog::pingInterval * 1000)));
        const std::shared_ptr<State> state = m_state;
        QObject::connect(&timer, &QTimer::timeout, &timer, [state] { tick(state); });
        timer.start();
        exec();
    }

private:
    std::shared_ptr<State> m_state;
};

void stopWatchdog(const std::shared_ptr<State> &state)
{
    QThread *thread = nullptr;
    {
        std::lock_guard guard(state->lock);
        if (!state->isRunning)
            return;
        state->isRunning = false;
        thread = std::exchange(state->thread, nullptr);
        QObject::disconnect(state->quitConnection);
    }
    // Joined outside the lock: a tick that is running needs it to finish.
    thread->quit();
    thread->wait();
    delete thread;
}

} // namespace

MainThreadWatchdog::MainThreadWatchdog(RenderLoopProbe *probe, const ContinuousClock *clock)
    : m_state(std::make_shared<State>(probe ? probe : &RenderLoopProbe::shared(),
                                      clock ? clock : SystemUptimeClock::instance()))
{
}

MainThreadWatchdog::~MainThreadWatchdog()
{
    stopWatchdog(m_state);
}

MainThreadWatchdog &MainThreadWatchdog::shared()
{
    // Never destroyed. Its thread is joined when the application quits, or at the latest when the
    // application object is destroyed, before anything it uses goes away.
    static MainThreadWatchdog *const watchdog = [] {
        auto *made = new MainThreadWatchdog();
        qAddPostRoutine([] { MainThreadWatchdog::shared().stop(); });
        return made;
    }();
    return *watchdog;
}

void MainThreadWatchdog::start()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        qCWarning(lcWatchdog, "MainThreadWatchdog needs the application object; not started");
        return;
    }
    {
        std::lock_guard guard(m_state->lock);
        if (m_state->isRunning)
            return;
        m_state->isRunning = true;
        m_state->detector.acknowledge(m_state->now());
        m_state->thread = new WatchdogThread(m_state);
        const std::shared_ptr<State> state = m_state;
        m_state->quitConnection =
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [state] { stopWatchdog(state); });
        m_state->thread->start();
    }
    qCInfo(lcWatchdog, "MainThreadWatchdog started");
}

void MainThreadWatchdog::stop()
{
    stopWatchdog(m_state);
}

bool MainThreadWatchdog::isRunning() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->isRunning;
}
