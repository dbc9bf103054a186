// The SQLite store's write queue: one writer at a time, in arrival order, bounded in length and
// in waiting time; a refused writer gets StoreBusyError (503 with Retry-After), never a hang.
#include "server/store/ServerStore.h"
#include "server/store/sqlite/WriteQueue.h"

#include <QTest>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

using namespace server;
using namespace std::chrono_literals;

namespace {

// Waits (bounded) until `queue` has `count` writers in line.
bool waitForLine(WriteQueue &queue, std::size_t count)
{
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (queue.waiting() != count) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::yield();
    }
    return true;
}

} // namespace

class TestWriteQueue : public QObject
{
    Q_OBJECT

private slots:
    // Writers that lined up one after another get their turns in that order, one at a time.
    void firstComeFirstServed()
    {
        WriteQueue queue(64, 60s);
        std::mutex mutex;
        std::vector<int> order;
        std::atomic<int> inside = 0;
        std::atomic<bool> overlapped = false;
        std::vector<std::thread> writers;
        {
            const WriteQueue::Turn first(queue);
            for (int i = 0; i < 20; ++i) {
                writers.emplace_back([&, i] {
                    const WriteQueue::Turn turn(queue);
                    if (++inside > 1)
                        overlapped = true;
                    {
                        std::lock_guard lock(mutex);
                        order.push_back(i);
                    }
                    --inside;
                });
                QVERIFY(waitForLine(queue, std::size_t(i + 1))); // i is in line before i + 1 starts
            }
        }
        for (auto &writer : writers)
            writer.join();
        std::vector<int> expected(20);
        for (int i = 0; i < 20; ++i)
            expected[std::size_t(i)] = i;
        QCOMPARE(order, expected);
        QVERIFY(!overlapped);
        QCOMPARE(queue.waiting(), std::size_t(0));
    }

    // Refusals: a full line, and a turn that does not come in time. Neither leaves a trace: the
    // next writer gets in as soon as the holder leaves.
    void refusals_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<int>("queued"); // writers already in line
        QTest::newRow("the line is full") << 2 << 60000 << 2;
        QTest::newRow("the turn does not come in time") << 8 << 50 << 0;
        QTest::newRow("no room at all") << 1 << 60000 << 1;
    }

    void refusals()
    {
        QFETCH(int, capacity);
        QFETCH(int, waitMs);
        QFETCH(int, queued);
        WriteQueue queue{std::size_t(capacity), std::chrono::milliseconds{waitMs}};
        std::vector<std::thread> waiting;
        std::atomic<int> served = 0;
        std::optional<WriteQueue::Turn> holder;
        holder.emplace(queue);
        for (int i = 0; i < queued; ++i) {
            waiting.emplace_back([&] {
                const WriteQueue::Turn turn(queue);
                ++served;
            });
            QVERIFY(waitForLine(queue, std::size_t(i + 1)));
        }
        try {
            const WriteQueue::Turn refused(queue);
            QFAIL("a writer got a turn it should not have");
        } catch (const StoreBusyError &busy) {
            QVERIFY(busy.retryAfterSeconds() >= 1 && busy.retryAfterSeconds() <= 5);
        }
        QCOMPARE(queue.waiting(), std::size_t(queued)); // the refused writer left no place behind
        holder.reset();
        for (auto &thread : waiting)
            thread.join();
        QCOMPARE(served.load(), queued);
        const WriteQueue::Turn next(queue); // free again at once
    }
};

QTEST_GUILESS_MAIN(TestWriteQueue)
#include "tst_writequeue.moc"
