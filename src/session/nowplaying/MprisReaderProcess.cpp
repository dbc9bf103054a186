#include "session/nowplaying/MprisReaderProcess.h"

#include "core/AppLog.h"

#include <chrono>

namespace {
double wallSeconds()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}
} // namespace

MprisReaderProcess::MprisReaderProcess(QString program, QStringList arguments, ContinuousClock *clock,
                                       std::function<void(const Outcome &)> done, QObject *parent)
    : QObject(parent)
    , m_program(std::move(program))
    , m_arguments(std::move(arguments))
    , m_clock(clock)
    , m_done(std::move(done))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &MprisReaderProcess::onTimer);
}

MprisReaderProcess::~MprisReaderProcess()
{
    // Never let QProcess's destructor block on a live child.
    detachProcess();
}

void MprisReaderProcess::start()
{
    m_launchedAt = m_clock->now();
    auto *process = new QProcess(this);
    m_process = process;
    process->setProgram(m_program);
    process->setArguments(m_arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    connect(process, &QProcess::readyReadStandardOutput, this, &MprisReaderProcess::onReadyRead);
    connect(process, &QProcess::readyReadStandardError, this, [process] { process->readAllStandardError(); });
    connect(process, &QProcess::finished, this, &MprisReaderProcess::onFinished);
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onFailedToStart();
    });
    m_timer.start(watchdogInterval);
    process->start(QIODevice::ReadOnly);
}

void MprisReaderProcess::abandon()
{
    m_stage = Stage::done;
    m_timer.stop();
    detachProcess();
}

void MprisReaderProcess::onReadyRead()
{
    if (!m_process)
        return;
    const QByteArray chunk = m_process->readAllStandardOutput();
    if (m_flooded)
        return;
    m_output += chunk;
    if (m_output.size() > maxOutputBytes) {
        m_flooded = true;
        m_output.clear();
        qCWarning(lcNowPlaying, "nowplaying-reader output exceeds %lld bytes — killing subprocess",
                  static_cast<long long>(maxOutputBytes));
        m_process->kill();
    }
}

void MprisReaderProcess::onFinished(int exitCode, QProcess::ExitStatus status)
{
    if (m_stage == Stage::done)
        return;
    onReadyRead(); // whatever arrived together with the exit
    if (m_process)
        m_process->readAllStandardError();
    report(status == QProcess::NormalExit && exitCode == 0 && !m_flooded);
}

void MprisReaderProcess::onFailedToStart()
{
    if (m_stage == Stage::done)
        return;
    qCWarning(lcNowPlaying, "nowplaying-reader launch failed: %s",
              qUtf8Printable(m_process ? m_process->errorString() : QString()));
    report(false);
}

void MprisReaderProcess::onTimer()
{
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    switch (m_stage) {
    case Stage::running:
        qCWarning(lcNowPlaying, "nowplaying-reader watchdog fired — terminating stalled subprocess");
        m_stage = Stage::terminated;
        m_process->terminate();
        m_timer.start(killGrace);
        break;
    case Stage::terminated:
        m_stage = Stage::killed;
        m_process->kill();
        m_timer.start(reapGrace);
        break;
    case Stage::killed:
        // Even SIGKILL has not ended it (stuck in the kernel): stop waiting for it.
        detachProcess();
        report(false);
        break;
    case Stage::done:
        break;
    }
}

void MprisReaderProcess::report(bool exitedCleanly)
{
    m_stage = Stage::done;
    m_timer.stop();
    Outcome outcome;
    outcome.exitedCleanly = exitedCleanly;
    outcome.standardOutput = exitedCleanly ? m_output : QByteArray();
    outcome.sampleInstant = m_clock->now();
    outcome.sampleDate = wallSeconds();
    outcome.readMilliseconds = (outcome.sampleInstant - m_launchedAt).count() / 1'000'000;
    if (m_done)
        m_done(outcome);
}

void MprisReaderProcess::detachProcess()
{
    QProcess *process = m_process;
    if (!process)
        return;
    m_process = nullptr;
    process->disconnect(this);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    // The child outlives this run: it is killed and deletes itself once it has exited.
    process->setParent(nullptr);
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->kill();
}
