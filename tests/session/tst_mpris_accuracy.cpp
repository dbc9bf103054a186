// How far the position the monitor extrapolates is from the true one, with the real reader and
// source following stand-in players whose true position is known: one exact, one that moves its
// position in 260 ms steps, one with ±25 ms of jitter. The three play side by side, each on a
// private bus of its own, through one script: 30 s of steady play measured from 2 s on, a seek
// measured from 1.5 s after it, a pause, a resume measured from 1.5 s after it. The figures are
// held to their goals on a quiet machine only: on a busy one (more runnable work than cores, or
// this test itself sampling late) they are reported, and the monitor is only held to following.
#include "BusyMachine.h"
#include "MprisTestPlayer.h"
#include "PrivateSessionBus.h"
#include "session/nowplaying/MprisNowPlayingSource.h"
#include "session/nowplaying/NowPlayingMonitor.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace std::chrono_literals;

namespace {

const QString readerPath = QStringLiteral(CANTORELLA_BINARY_DIR "/src/app/nowplaying-reader");

constexpr auto steadyFrom = 2s;
constexpr auto steadyUntil = 32s;
constexpr auto settledAfter = 1500ms;  // after a seek or a resume
constexpr auto settledWindow = 8s;
constexpr auto pausedFor = 1500ms;
constexpr auto sampleEvery = 20ms;

struct Figures
{
    QList<double> errorsMs;

    double quantile(double q) const
    {
        QList<double> sorted = errorsMs;
        std::sort(sorted.begin(), sorted.end());
        return sorted.isEmpty() ? qQNaN() : sorted[qsizetype(q * double(sorted.size() - 1))];
    }
    double median() const { return quantile(0.5); }
    double p90() const { return quantile(0.9); }
    double worst() const { return quantile(1.0); }
    QString text() const
    {
        return QStringLiteral("median %1 ms, p90 %2 ms, worst %3 ms (%4 samples)")
            .arg(median(), 0, 'f', 1)
            .arg(p90(), 0, 'f', 1)
            .arg(worst(), 0, 'f', 1)
            .arg(errorsMs.size());
    }
    bool meetsGoal() const { return !errorsMs.isEmpty() && median() <= 15 && p90() <= 35 && worst() <= 60; }
};

// One player with its own bus, reader, source and monitor.
struct Rig
{
    QString name;
    std::unique_ptr<PrivateSessionBus> bus;
    std::unique_ptr<MprisTestPlayer> player;
    std::unique_ptr<NowPlayingMonitor> monitor;

    Figures steady, afterSeek, afterResume, paused;
    qint64 seekSeenMs = -1, pauseSeenMs = -1, resumeSeenMs = -1;

    // Monitor's position minus the true one, in ms; NaN while the monitor has no anchor.
    double errorMs(ContinuousInstant at) const
    {
        const auto anchor = monitor->anchor();
        return anchor ? (anchor->positionAt(at) - player->truePosition(at)) * 1000.0 : qQNaN();
    }
    // Whether the monitor's anchor shows the player's state: playing or not, and near the position.
    bool follows(ContinuousInstant at) const
    {
        const auto anchor = monitor->anchor();
        return anchor && (anchor->rate > 0) == player->isPlaying() && std::abs(errorMs(at)) < 500;
    }
};

ContinuousInstant now()
{
    return ContinuousClock::system()->now();
}

} // namespace

class TestMprisAccuracy : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_scripts;
    std::vector<std::unique_ptr<Rig>> m_rigs;
    Figures m_lateness; // how much later than asked each sampling turn came back, ms

    // The reader asks the session bus of its environment; a script per bus points it there.
    QString readerFor(const PrivateSessionBus &bus, const QString &name)
    {
        const QString path = m_scripts.filePath(name + QStringLiteral(".sh"));
        QFile script(path);
        if (!script.open(QIODevice::WriteOnly))
            return {};
        script.write(QStringLiteral("#!/bin/sh\nDBUS_SESSION_BUS_ADDRESS='%1' exec '%2' \"$@\"\n")
                         .arg(bus.address(), readerPath)
                         .toUtf8());
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }

    // Runs the event loop for `span`, sampling every rig's error into `figures` (a member pointer).
    void measure(std::chrono::milliseconds span, Figures Rig::*figures)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < span.count()) {
            const qint64 turnStarted = clock.nsecsElapsed();
            MprisTestPlayer::serveFor(sampleEvery);
            m_lateness.errorsMs.append(double(clock.nsecsElapsed() - turnStarted) / 1e6 - double(sampleEvery.count()));
            const ContinuousInstant at = now();
            for (const auto &rig : m_rigs) {
                const double error = rig->errorMs(at);
                if (!std::isnan(error))
                    ((*rig).*figures).errorsMs.append(std::abs(error));
            }
        }
    }

    // Applies `change` to every player and records, per rig, how long until the monitor shows it.
    template<class Change>
    void changeAndWait(Change change, qint64 Rig::*seenMs)
    {
        QElapsedTimer clock;
        clock.start();
        for (const auto &rig : m_rigs)
            change(*rig->player);
        const qint64 started = clock.elapsed();
        while (clock.elapsed() - started < 30000) { // returns once every monitor shows the change
            bool all = true;
            for (const auto &rig : m_rigs) {
                if ((*rig).*seenMs < 0 && rig->follows(now()))
                    (*rig).*seenMs = clock.elapsed() - started;
                all = all && (*rig).*seenMs >= 0;
            }
            if (all)
                return;
            MprisTestPlayer::serveFor(1ms);
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(readerPath), qPrintable(readerPath));
        QVERIFY(m_scripts.isValid());
        const std::pair<QString, MprisTestPlayer::Reporting> kinds[] = {
            {QStringLiteral("exact"), MprisTestPlayer::Reporting::exact},
            {QStringLiteral("stepped"), MprisTestPlayer::Reporting::stepped},
            {QStringLiteral("jittered"), MprisTestPlayer::Reporting::jittered}};
        for (const auto &[name, reporting] : kinds) {
            auto rig = std::make_unique<Rig>();
            rig->name = name;
            rig->bus = std::make_unique<PrivateSessionBus>();
            QVERIFY2(rig->bus->isRunning(), "dbus-daemon did not start");
            rig->player = std::make_unique<MprisTestPlayer>(rig->bus->connect(name + QStringLiteral("-player")),
                                                           QStringLiteral("timing"), reporting);
            QVERIFY(rig->player->publish());
            rig->player->seek(30.0);
            rig->player->play();

            MprisNowPlayingSource::Options options;
            options.readerPath = readerFor(*rig->bus, name);
            QVERIFY(!options.readerPath.isEmpty());
            options.bus = rig->bus->connect(name + QStringLiteral("-source")); // connection names are process-wide
            rig->monitor = std::make_unique<NowPlayingMonitor>(std::make_unique<MprisNowPlayingSource>(options));
            m_rigs.push_back(std::move(rig));
        }
    }

    void followsTheTruePosition()
    {
        for (const auto &rig : m_rigs)
            rig->monitor->start();
        const BusyMachine::CoreUse coreUse;
        MprisTestPlayer::serveFor(steadyFrom);
        measure(steadyUntil - steadyFrom, &Rig::steady);

        changeAndWait([](MprisTestPlayer &player) { player.seek(120.0); }, &Rig::seekSeenMs);
        MprisTestPlayer::serveFor(settledAfter);
        measure(settledWindow, &Rig::afterSeek);

        changeAndWait([](MprisTestPlayer &player) { player.pause(); }, &Rig::pauseSeenMs);
        measure(pausedFor, &Rig::paused);

        changeAndWait([](MprisTestPlayer &player) { player.play(); }, &Rig::resumeSeenMs);
        MprisTestPlayer::serveFor(settledAfter);
        measure(settledWindow, &Rig::afterResume);

        for (const auto &rig : m_rigs) {
            rig->monitor->stop();
            qInfo("%-8s steady 2–32 s: %s", qPrintable(rig->name), qPrintable(rig->steady.text()));
            qInfo("%-8s after seek, from 1.5 s: %s", qPrintable(rig->name), qPrintable(rig->afterSeek.text()));
            qInfo("%-8s after resume, from 1.5 s: %s", qPrintable(rig->name), qPrintable(rig->afterResume.text()));
            qInfo("%-8s seen after: seek %lld ms, pause %lld ms, resume %lld ms; paused worst %.4f ms",
                  qPrintable(rig->name), rig->seekSeenMs, rig->pauseSeenMs, rig->resumeSeenMs,
                  rig->paused.worst());
        }
        const double coresBusy = coreUse.busyShare();
        const bool quiet = !BusyMachine::tooBusyForFigures(m_lateness.errorsMs, coresBusy);
        qInfo("load %.2f a core; its cores busy %.0f %% of the time; sampling late by %s: %s",
              BusyMachine::loadPerCore(), coresBusy * 100, qPrintable(m_lateness.text()),
              quiet ? "goals checked" : "too busy for the goals, following checked");
        for (const auto &rig : m_rigs) {
            const QByteArray name = rig->name.toUtf8();
            for (qint64 seen : {rig->seekSeenMs, rig->pauseSeenMs, rig->resumeSeenMs})
                QVERIFY2(seen >= 0, name + " a change was never seen");
            // Paused, every kind answers the true position, to the microsecond the bus carries.
            QVERIFY2(!rig->paused.errorsMs.isEmpty() && rig->paused.worst() <= 0.001,
                     name + " paused: " + rig->paused.text().toUtf8());
            if (!quiet) {
                for (const Figures *figures : {&rig->steady, &rig->afterSeek, &rig->afterResume})
                    QVERIFY2(figures->median() <= 250, name + ": " + figures->text().toUtf8());
                continue;
            }
            QVERIFY2(rig->steady.meetsGoal(), name + " steady: " + rig->steady.text().toUtf8());
            QVERIFY2(rig->afterSeek.meetsGoal(), name + " after seek: " + rig->afterSeek.text().toUtf8());
            QVERIFY2(rig->afterResume.meetsGoal(), name + " after resume: " + rig->afterResume.text().toUtf8());
            for (qint64 seen : {rig->seekSeenMs, rig->pauseSeenMs, rig->resumeSeenMs})
                QVERIFY2(seen <= 100, name + " change seen after " + QByteArray::number(seen) + " ms");
        }
    }

    void cleanupTestCase()
    {
        for (const auto &rig : m_rigs)
            rig->monitor.reset(); // before the buses go
        m_rigs.clear();
    }
};

QTEST_GUILESS_MAIN(TestMprisAccuracy)
#include "tst_mpris_accuracy.moc"
