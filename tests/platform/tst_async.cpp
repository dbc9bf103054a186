#include "platform/Async.h"
#include "platform/Clock.h"

#include <QtTest>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <array>
#include <stdexcept>

using namespace std::chrono_literals;

namespace {

struct Probe
{
    bool started = false;
    bool finished = false;
    bool cancelled = false;
};

// Sleeps on the manual clock and records how it ended.
QCoro::Task<int> sleeper(ManualContinuousClock *clock, std::chrono::milliseconds d, int value,
                         std::shared_ptr<Probe> probe, CancellationToken token)
{
    probe->started = true;
    try {
        co_await clock->sleepFor(d, token);
    } catch (const CancelledError &) {
        probe->cancelled = true;
        throw;
    }
    probe->finished = true;
    co_return value;
}

QCoro::Task<int> failer(ManualContinuousClock *clock, std::chrono::milliseconds d, CancellationToken token)
{
    co_await clock->sleepFor(d, token);
    throw std::runtime_error("boom");
}

template<class T>
struct Pending
{
    std::shared_ptr<AsyncOutcome<T>> outcome = std::make_shared<AsyncOutcome<T>>();
};

template<class T>
Pending<T> launch(QCoro::Task<T> task)
{
    Pending<T> p;
    detail::captureOutcome<T>(std::move(task), p.outcome);
    return p;
}

// Advances the manual clock and lets queued wake-ups run.
void advance(ManualContinuousClock &clock, std::chrono::milliseconds d)
{
    clock.advance(d);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

class TestAsync : public QObject
{
    Q_OBJECT

private slots:
    void raceFirstFinisherWinsAndLoserIsCancelled_data()
    {
        QTest::addColumn<int>("aMs");
        QTest::addColumn<int>("bMs");
        QTest::addColumn<int>("expected");
        QTest::newRow("a faster") << 10 << 50 << 1;
        QTest::newRow("b faster") << 50 << 10 << 2;
    }

    void raceFirstFinisherWinsAndLoserIsCancelled()
    {
        QFETCH(int, aMs);
        QFETCH(int, bMs);
        QFETCH(int, expected);
        ManualContinuousClock clock;
        auto pa = std::make_shared<Probe>();
        auto pb = std::make_shared<Probe>();
        auto run = launch(race<int>(
            [&](CancellationToken t) { return sleeper(&clock, std::chrono::milliseconds(aMs), 1, pa, t); },
            [&](CancellationToken t) { return sleeper(&clock, std::chrono::milliseconds(bMs), 2, pb, t); }));
        QVERIFY(pa->started && pb->started);
        advance(clock, 20ms);
        QTRY_VERIFY(run.outcome->done());
        QCOMPARE(run.outcome->take(), expected);
        auto loser = expected == 1 ? pb : pa;
        QTRY_VERIFY(loser->cancelled);
        QVERIFY(!loser->finished);
        QCOMPARE(clock.pendingSleepers(), 0);
    }

    void raceRethrowsTheWinnersErrorAndOuterCancelEndsBoth()
    {
        ManualContinuousClock clock;
        auto pb = std::make_shared<Probe>();
        auto failing = launch(race<int>([&](CancellationToken t) { return failer(&clock, 5ms, t); },
                                        [&](CancellationToken t) { return sleeper(&clock, 50ms, 2, pb, t); }));
        advance(clock, 10ms);
        QTRY_VERIFY(failing.outcome->done());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, failing.outcome->take());
        QTRY_VERIFY(pb->cancelled);

        CancellationToken outer;
        auto p1 = std::make_shared<Probe>();
        auto p2 = std::make_shared<Probe>();
        auto cancelled = launch(race<int>([&](CancellationToken t) { return sleeper(&clock, 50ms, 1, p1, t); },
                                          [&](CancellationToken t) { return sleeper(&clock, 50ms, 2, p2, t); },
                                          outer));
        outer.cancel();
        QTRY_VERIFY(cancelled.outcome->done());
        QVERIFY_THROWS_EXCEPTION(CancelledError, cancelled.outcome->take());
        QTRY_VERIFY(p1->cancelled && p2->cancelled);
    }

    void sharedTaskGivesEveryWaiterTheOneResult()
    {
        ManualContinuousClock clock;
        int runs = 0;
        auto probe = std::make_shared<Probe>();
        SharedTask<int> shared([&](CancellationToken t) {
            ++runs;
            return sleeper(&clock, 30ms, 42, probe, t);
        });
        auto w1 = launch(shared.wait());
        auto w2 = launch(shared.wait());
        CancellationToken impatient;
        auto w3 = launch(shared.wait(impatient));
        impatient.cancel();
        QTRY_VERIFY(w3.outcome->done());
        QVERIFY_THROWS_EXCEPTION(CancelledError, w3.outcome->take());
        QVERIFY(!probe->cancelled); // a leaving waiter does not cancel the work
        advance(clock, 30ms);
        QTRY_VERIFY(w1.outcome->done() && w2.outcome->done());
        QCOMPARE(w1.outcome->take(), 42);
        QCOMPARE(w2.outcome->take(), 42);
        QCOMPARE(runs, 1);
        // A waiter arriving after completion gets the stored result at once.
        auto late = launch(shared.wait());
        QVERIFY(late.outcome->done());
        QCOMPARE(late.outcome->take(), 42);
    }

    void sharedTaskGivesEveryWaiterTheSameError()
    {
        ManualContinuousClock clock;
        SharedTask<int> shared([&](CancellationToken t) { return failer(&clock, 5ms, t); });
        auto w1 = launch(shared.wait());
        auto w2 = launch(shared.wait());
        advance(clock, 5ms);
        QTRY_VERIFY(w1.outcome->done() && w2.outcome->done());
        QVERIFY(w1.outcome->error && w1.outcome->error == w2.outcome->error);
    }

    void sharedTaskValueIsNotMovedAwayFromLaterWaiters()
    {
        SharedTask<QString> shared([](CancellationToken) -> QCoro::Task<QString> { co_return QStringLiteral("lyrics"); });
        QCOMPARE(launch(shared.wait()).outcome->take(), QStringLiteral("lyrics"));
        QCOMPARE(launch(shared.wait()).outcome->take(), QStringLiteral("lyrics"));
    }

    void channelDeliversInOrderThenEnds()
    {
        Channel<int> channel;
        channel.send(1);
        channel.send(2);
        auto first = launch(channel.receive());
        QVERIFY(first.outcome->done());
        QCOMPARE(*first.outcome->take(), 1);
        auto second = launch(channel.receive());
        QCOMPARE(*second.outcome->take(), 2);
        auto waiting = launch(channel.receive());
        QVERIFY(!waiting.outcome->done());
        channel.send(3);
        QTRY_VERIFY(waiting.outcome->done());
        QCOMPARE(*waiting.outcome->take(), 3);
        auto end = launch(channel.receive());
        channel.finish();
        channel.send(4); // ignored after finish
        QTRY_VERIFY(end.outcome->done());
        QVERIFY(!end.outcome->take().has_value());
    }

    void channelReceiveEndsWhenCancelled()
    {
        Channel<int> channel;
        CancellationToken token;
        auto waiting = launch(channel.receive(token));
        token.cancel();
        QTRY_VERIFY(waiting.outcome->done());
        QVERIFY_THROWS_EXCEPTION(CancelledError, waiting.outcome->take());
        channel.send(7); // the value stays for the next receive
        QCOMPARE(*launch(channel.receive()).outcome->take(), 7);
    }

    void childTokenFollowsParentOnly()
    {
        CancellationToken parent;
        CancellationToken child = parent.child();
        child.cancel();
        QVERIFY(!parent.isCancelled());
        CancellationToken second = parent.child();
        parent.cancel();
        QVERIFY(second.isCancelled());
        QVERIFY(parent.child().isCancelled());
    }

    void systemClockSleepsAndCancels()
    {
        auto *clock = ContinuousClock::system();
        const auto before = clock->now();
        auto sleep = launch(clock->sleepFor(20ms, {}));
        QTRY_VERIFY(sleep.outcome->done());
        sleep.outcome->take();
        QVERIFY(clock->now() - before >= 15ms); // timers may fire a little early

        CancellationToken token;
        auto cancelled = launch(clock->sleepFor(10s, token));
        token.cancel();
        QTRY_VERIFY(cancelled.outcome->done());
        QVERIFY_THROWS_EXCEPTION(CancelledError, cancelled.outcome->take());
    }

    // A sleep cancelled just before its clock is destroyed resumes on a later turn, with the
    // clock gone: it must not write to where the clock was.
    void aSleepCancelledAsItsClockGoesLeavesTheClockAlone()
    {
        alignas(ManualContinuousClock) std::array<unsigned char, sizeof(ManualContinuousClock)> memory{};
        auto *clock = new (memory.data()) ManualContinuousClock;
        CancellationToken token;
        auto sleep = launch(clock->sleepFor(1s, token));
        QCOMPARE(clock->pendingSleepers(), 1);
        token.cancel();
        clock->~ManualContinuousClock();
        memory.fill(0xA5);

        QTRY_VERIFY(sleep.outcome->done());
        QVERIFY_THROWS_EXCEPTION(CancelledError, sleep.outcome->take());
        QVERIFY(std::all_of(memory.cbegin(), memory.cend(), [](unsigned char byte) { return byte == 0xA5; }));
    }

    void serialExecutorRunsInOrderOnItsThreadAndRethrows()
    {
        SerialExecutor executor(QStringLiteral("test-executor"));
        QVector<int> order;
        QThread *seen = nullptr;
        auto a = launch(executor.run([&] {
            seen = QThread::currentThread();
            QThread::msleep(20);
            order.append(1);
            return 1;
        }));
        auto b = launch(executor.run([&] {
            order.append(2);
            return QStringLiteral("two");
        }));
        auto c = launch(executor.run([]() -> int { throw std::invalid_argument("bad"); }));
        QTRY_VERIFY(a.outcome->done() && b.outcome->done() && c.outcome->done());
        QCOMPARE(a.outcome->take(), 1);
        QCOMPARE(b.outcome->take(), QStringLiteral("two"));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, c.outcome->take());
        QCOMPARE(order, QVector<int>({1, 2}));
        QCOMPARE(seen, executor.thread());
        QCOMPARE(executor.thread()->objectName(), QStringLiteral("test-executor"));
        QCOMPARE(executor.runBlocking([] { return 5; }), 5);
    }
};

QTEST_GUILESS_MAIN(TestAsync)
#include "tst_async.moc"
