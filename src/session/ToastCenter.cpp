#include "session/ToastCenter.h"

#include "core/AppLog.h"

#include <QMetaObject>

#include <chrono>
#include <cmath>
#include <limits>

namespace {

std::chrono::nanoseconds toNanoseconds(double seconds)
{
    // Beyond what a 64-bit count of nanoseconds holds (about 292 years) the toast simply stays.
    constexpr double limit = double(std::numeric_limits<qint64>::max()) / 1e9;
    if (seconds >= limit)
        return std::chrono::nanoseconds(std::numeric_limits<qint64>::max() / 2);
    return std::chrono::nanoseconds(qint64(std::llround(seconds * 1e9)));
}

} // namespace

ToastCenter::ToastCenter(QObject *parent) : ToastCenter(ContinuousClock::system(), parent) {}

ToastCenter::ToastCenter(ContinuousClock *clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock ? clock : ContinuousClock::system())
{
}

ToastCenter::~ToastCenter()
{
    if (m_dismissTask)
        m_dismissTask->cancel();
}

void ToastCenter::show(const QString &text, double duration)
{
    if (!std::isfinite(duration) || duration < 0) {
        qCWarning(lcUi, "Toast duration %g is not a finite, non-negative number of seconds — using 0", duration);
        duration = 0;
    }
    if (m_dismissTask)
        m_dismissTask->cancel();
    setCurrent(Toast{QUuid::createUuid(), text});

    const CancellationToken token;
    m_dismissTask = token;
    const ContinuousInstant deadline = m_clock->now() + toNanoseconds(duration);
    // The dismissal starts on the next turn, so even a zero duration leaves the toast in place
    // until then.
    QMetaObject::invokeMethod(
        this, [this, deadline, token] { dismissAt(QPointer<ToastCenter>(this), m_clock, deadline, token); },
        Qt::QueuedConnection);
}

void ToastCenter::setCurrent(const std::optional<Toast> &toast)
{
    if (m_current == toast)
        return;
    m_current = toast;
    emit currentChanged();
}

QCoro::Task<void> ToastCenter::dismissAt(QPointer<ToastCenter> self, ContinuousClock *clock,
                                        ContinuousInstant deadline, CancellationToken token)
{
    try {
        co_await clock->sleepUntil(deadline, token);
    } catch (const CancelledError &) {
        co_return; // replaced by a newer toast, or the center went away
    }
    if (token.isCancelled() || !self)
        co_return;
    self->setCurrent(std::nullopt);
}
