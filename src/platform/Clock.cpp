#include "platform/Clock.h"

#include "platform/AsyncSignal.h"

#include <QPointer>
#include <QTimer>

#include <qcoro/qcorosignal.h>

#include <time.h>

namespace {

// Resolves once: either "woken" or "cancelled". The one thing a sleeping coroutine awaits, so a
// wake-up and a cancellation can never both resume it.
struct SleepOutcome
{
    AsyncSignal done;
    bool settled = false;
    bool cancelled = false;
    void settle(bool wasCancelled)
    {
        if (settled)
            return;
        settled = true;
        cancelled = wasCancelled;
        done.fire();
    }
};

} // namespace

QCoro::Task<void> ContinuousClock::sleepFor(std::chrono::nanoseconds duration, CancellationToken token)
{
    return sleepUntil(now() + duration, std::move(token));
}

ContinuousClock *ContinuousClock::system()
{
    static SystemContinuousClock clock;
    return &clock;
}

ContinuousInstant SystemContinuousClock::now() const
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return {qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec};
}

QCoro::Task<void> SystemContinuousClock::sleepUntil(ContinuousInstant deadline, CancellationToken token)
{
    token.throwIfCancelled();
    const auto remaining = deadline - now();
    if (remaining.count() <= 0)
        co_return;

    SleepOutcome outcome;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    // Round up so the wake is never before the deadline.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(remaining);
    QObject::connect(&timer, &QTimer::timeout, &outcome.done, [&outcome] { outcome.settle(false); });
    auto connection = token.onCancelled(&outcome.done, [&outcome] { outcome.settle(true); });
    timer.start(ms);
    co_await qCoro(&outcome.done, &AsyncSignal::fired);
    QObject::disconnect(connection);
    if (outcome.cancelled)
        throw CancelledError();
}

ManualContinuousClock::ManualContinuousClock(ContinuousInstant start)
    : m_now(start)
{
}

void ManualContinuousClock::advance(std::chrono::nanoseconds d)
{
    setNow(m_now + d);
}

void ManualContinuousClock::setNow(ContinuousInstant instant)
{
    m_now = instant;
    m_signal.fire();
}

QCoro::Task<void> ManualContinuousClock::sleepUntil(ContinuousInstant deadline, CancellationToken token)
{
    token.throwIfCancelled();
    if (m_now >= deadline)
        co_return;

    // A sleep resumes on a later turn than the one that ended it. One cancelled by an object
    // destroyed just before the clock (a test's teardown) then finds the clock gone, and must
    // touch nothing of it: the clock is alive exactly as long as its signal object.
    const QPointer<AsyncSignal> clockAlive(&m_signal);
    ++m_pending;
    SleepOutcome outcome;
    auto advanced = QObject::connect(&m_signal, &AsyncSignal::fired, &outcome.done,
                                     [this, clockAlive, &outcome, deadline] {
                                         if (clockAlive && m_now >= deadline)
                                             outcome.settle(false);
                                     }, Qt::QueuedConnection);
    auto cancelled = token.onCancelled(&outcome.done, [&outcome] { outcome.settle(true); });
    co_await qCoro(&outcome.done, &AsyncSignal::fired);
    if (clockAlive)
        --m_pending;
    QObject::disconnect(advanced);
    QObject::disconnect(cancelled);
    if (outcome.cancelled)
        throw CancelledError();
}

WallClock *WallClock::system()
{
    static SystemWallClock clock;
    return &clock;
}


