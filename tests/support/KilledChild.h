#pragma once

// Crash safety: the test executable started again as a child process that works on a store
// until it is killed with SIGKILL at a random moment.

#include "ChildProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QStringList>

#include <csignal>
#include <unistd.h>

namespace KilledChild {

struct Outcome
{
    QByteArray output;  // everything the child printed
    QString problem;    // empty when the child got ready, ran and was killed as planned
};

// Starts this executable with `arguments`, waits for its "ready" line, lets it run for a
// random time in [minDelayMs, maxDelayMs), then kills it wherever it is.
inline Outcome runUntilKilled(const QStringList &arguments, int minDelayMs, int maxDelayMs)
{
    QProcess child;
    ChildProcess::diesWithTest(child);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForStarted())
        return {{}, QStringLiteral("the child did not start")};
    QByteArray out;
    while (!out.contains("ready\n")) {
        if (!child.waitForReadyRead(10000))
            return {out, QStringLiteral("the child never got ready: ") + QString::fromLocal8Bit(child.readAllStandardError())};
        out += child.readAllStandardOutput();
    }
    const int delayMs = QRandomGenerator::global()->bounded(minDelayMs, maxDelayMs);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < delayMs) {
        child.waitForReadyRead(int(delayMs - timer.elapsed()));
        out += child.readAllStandardOutput();
    }
    if (child.state() != QProcess::Running)
        return {out, QStringLiteral("the child ended by itself: ") + QString::fromLocal8Bit(child.readAllStandardError())};
    ::kill(pid_t(child.processId()), SIGKILL);
    if (!child.waitForFinished(10000) || child.exitStatus() != QProcess::CrashExit)
        return {out, QStringLiteral("the child did not die of the kill")};
    out += child.readAllStandardOutput();
    return {out, {}};
}

} // namespace KilledChild
