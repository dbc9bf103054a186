#pragma once

// Warnings printed by threads other than the test's own (the main-thread watchdog's, a store
// thread's), kept until the test's thread looks at them.
//
// QtTest records a failure on whichever thread calls it. A warning that QTest::failOnWarning
// turns into a failure on another thread makes QtTest create its event-loop object on that
// thread with the application object as its parent ("Cannot create children for a parent that
// is in a different thread"), and the failure lands in whatever test function runs at that
// moment. While one of these objects lives, warnings from other threads are printed and noted
// here instead of reaching QtTest; warnings from the test's own thread pass on unchanged, so
// failOnWarning and ignoreMessage keep working for them. Make one after QtTest has installed its
// own handler (in initTestCase, not as a member of the test object).

#include "BusyMachine.h"

#include <QMessageLogContext>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <utility>

class OtherThreadWarnings
{
public:
    struct Warning
    {
        QString text;
        bool busy = false; // the machine was busy when it was printed (BusyMachine)
    };

    OtherThreadWarnings()
        : m_testThread(QThread::currentThread())
    {
        QMutexLocker guard(&mutex());
        m_previous = qInstallMessageHandler(&handle);
        current() = this;
    }
    ~OtherThreadWarnings()
    {
        QMutexLocker guard(&mutex());
        current() = nullptr;
        qInstallMessageHandler(m_previous);
    }
    OtherThreadWarnings(const OtherThreadWarnings &) = delete;
    OtherThreadWarnings &operator=(const OtherThreadWarnings &) = delete;

    // The warnings noted since the last call.
    QList<Warning> take()
    {
        QMutexLocker guard(&mutex());
        return std::exchange(m_noted, {});
    }

    // The texts of the warnings noted since the last call that fail a test: all but those that
    // match `whenBusy` and came on a busy machine (a timing figure, such as a hang report: a busy
    // machine only reports it, on standard error where it was printed).
    QStringList takeFailures(const QRegularExpression &whenBusy = {})
    {
        QStringList failures;
        for (const Warning &warning : take()) {
            const bool busyFigure = !whenBusy.pattern().isEmpty() && warning.text.contains(whenBusy);
            if (busyFigure && (warning.busy || BusyMachine::loadPerCore() >= 1))
                continue;
            failures << warning.text;
        }
        return failures;
    }

private:
    static QMutex &mutex()
    {
        static QMutex lock;
        return lock;
    }
    static OtherThreadWarnings *&current()
    {
        static OtherThreadWarnings *watch = nullptr;
        return watch;
    }

    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        QtMessageHandler previous = nullptr;
        {
            QMutexLocker guard(&mutex());
            OtherThreadWarnings *watch = current();
            if (!watch) {
                std::fprintf(stderr, "%s\n", qPrintable(message));
                return;
            }
            if (type != QtWarningMsg || QThread::currentThread() == watch->m_testThread) {
                previous = watch->m_previous;
            } else {
                watch->m_noted.append({message, BusyMachine::loadPerCore() >= 1});
                std::fprintf(stderr, "WARNING (%s): %s\n", qPrintable(QThread::currentThread()->objectName()),
                             qPrintable(message));
                return;
            }
        }
        // Outside the lock: QtTest's handler may fail the test, which may log again.
        if (previous)
            previous(type, context, message);
    }

    QThread *const m_testThread;
    QtMessageHandler m_previous = nullptr;
    QList<Warning> m_noted;
};
