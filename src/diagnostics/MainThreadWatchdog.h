#pragma once

#include <memory>

class ContinuousClock;
class RenderLoopProbe;

// Notices when the GUI thread stops answering. A thread of its own
// ("com.cantorella.main-thread-watchdog") wakes every 0.5 s, posts an acknowledgement to the GUI
// thread's event queue and checks how long ago the GUI thread last ran one. After 2 s of silence
// it traces "watchdog.mainThreadStall" and has the probe write a report, at most once every 4 s
// while the stall lasts.
//
// Started once by the application shell; it then runs until the application quits, when its
// thread is stopped and joined.
class MainThreadWatchdog
{
public:
    static constexpr double pingInterval = 0.5;
    static constexpr double stallThreshold = 2.0;
    static constexpr double dumpInterval = 4.0;

    // probe defaults to RenderLoopProbe::shared(), clock to the system uptime. Both must outlive
    // the watchdog's running time.
    explicit MainThreadWatchdog(RenderLoopProbe *probe = nullptr, const ContinuousClock *clock = nullptr);
    ~MainThreadWatchdog();
    MainThreadWatchdog(const MainThreadWatchdog &) = delete;
    MainThreadWatchdog &operator=(const MainThreadWatchdog &) = delete;

    // The process-wide watchdog, made on first use.
    static MainThreadWatchdog &shared();

    // Starts pinging the GUI thread and logs "MainThreadWatchdog started". Safe from any thread;
    // calls while it runs do nothing. Needs the application object.
    void start();
    // Stops the timer and joins the thread; acknowledgements still queued then do nothing. Called
    // when the application quits; must not be called from the watchdog's own thread.
    void stop();
    bool isRunning() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};
