#pragma once

// A process a test starts never outlives the test: the kernel kills it when the test's thread
// that started it ends, however it ends (a failed assertion that aborts, a crash, SIGKILL from
// CTest's time-out). The test still stops it in its own clean-up; this is for when that never
// runs. Start such processes from the test's main thread (a worker thread that ends would take
// them along).

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace ChildProcess {

inline void diesWithTest(QProcess &process)
{
    const pid_t test = ::getpid();
    process.setChildProcessModifier([test] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != test) // the test ended between the fork and the line above
            ::_exit(127);
    });
}

} // namespace ChildProcess
