#pragma once

#include "platform/Clock.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>

// One run of nowplaying-reader. Reads the child's output while it runs (a child that fills the
// pipe never blocks), stops a child that stalls or floods, and reports exactly once — or never,
// after abandon().
class MprisReaderProcess : public QObject
{
    Q_OBJECT
public:
    struct Outcome
    {
        bool exitedCleanly = false; // exit status 0; not killed, crashed or cut off
        QByteArray standardOutput;
        ContinuousInstant sampleInstant; // continuous clock when the child was done
        double sampleDate = 0;           // wall clock then, seconds since 1970
        qint64 readMilliseconds = 0;     // launch to done, truncated
    };

    // The stall limit from launch; then SIGTERM, then SIGKILL after killGrace; a child that has
    // not gone reapGrace after that is left to finish on its own and the run reports.
    static constexpr std::chrono::milliseconds watchdogInterval{5000};
    static constexpr std::chrono::milliseconds killGrace{1000};
    static constexpr std::chrono::milliseconds reapGrace{1000};
    // A real answer is a few kilobytes; more than this is a runaway child.
    static constexpr qsizetype maxOutputBytes = 1024 * 1024;

    MprisReaderProcess(QString program, QStringList arguments, ContinuousClock *clock,
                       std::function<void(const Outcome &)> done, QObject *parent = nullptr);
    ~MprisReaderProcess() override;

    void start();
    // Stops the run without reporting: the child is killed and cleans up after itself.
    void abandon();

private:
    enum class Stage { running, terminated, killed, done };

    void onReadyRead();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onFailedToStart();
    void onTimer();
    void report(bool exitedCleanly);
    void detachProcess();

    QString m_program;
    QStringList m_arguments;
    ContinuousClock *m_clock;
    std::function<void(const Outcome &)> m_done;
    QPointer<QProcess> m_process;
    QTimer m_timer;
    QByteArray m_output;
    bool m_flooded = false;
    Stage m_stage = Stage::running;
    ContinuousInstant m_launchedAt;
};
