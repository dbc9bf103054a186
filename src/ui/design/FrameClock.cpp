#include "ui/design/FrameClock.h"

#include <QPointer>

#include <algorithm>
#include <optional>

#include <utility>

namespace {

unsigned bit(FrameClock::Pace pace)
{
    return 1u << unsigned(pace);
}

constexpr FrameClock::Pace allPaces[] = {FrameClock::Pace::Transition, FrameClock::Pace::Ambient,
                                         FrameClock::Pace::Mesh, FrameClock::Pace::Scroll};

} // namespace

FrameClock::FrameClock(ContinuousClock *clock, QObject *parent)
    : QObject(parent), m_clock(clock)
{
    Q_ASSERT(m_clock);
    m_token.cancel(); // not running
}

FrameClock::~FrameClock()
{
    m_token.cancel();
    for (const auto &c : std::as_const(m_watch))
        disconnect(c);
}

bool FrameClock::isHeld(Pace pace) const
{
    return std::find(m_holders.cbegin(), m_holders.cend(), pace) != m_holders.cend();
}

void FrameClock::hold(QObject *holder, Pace pace)
{
    if (!holder)
        return;
    const auto held = m_holders.constFind(holder);
    if (held != m_holders.cend() && *held == pace)
        return;
    const bool wasRunning = isRunning();
    const ContinuousInstant before = nextDue();
    if (held == m_holders.cend())
        m_watch.insert(holder, connect(holder, &QObject::destroyed, this, [this, holder] { release(holder); }));
    // A pace taken up anew counts from the last tick in the software profile (every pace shares
    // the ticks) and from now in the hardware one.
    if (!isHeld(pace))
        m_lastDue[size_t(pace)] = pacesTransitions() && wasRunning ? m_lastTick : m_clock->now();
    m_holders.insert(holder, pace);
    startOrStop(wasRunning);
    if (wasRunning && nextDue() < before)
        rearm();
}

ContinuousInstant FrameClock::nextDue() const
{
    std::optional<ContinuousInstant> next;
    std::optional<std::chrono::nanoseconds> shortest;
    for (const Pace pace : allPaces) {
        if (!isHeld(pace))
            continue;
        const ContinuousInstant due = m_lastDue[size_t(pace)] + interval(pace);
        if (!next || due < *next)
            next = due;
        if (!shortest || interval(pace) < *shortest)
            shortest = interval(pace);
    }
    // One timeline in the software profile: a slower pace steps on the first tick at or after
    // its due instant, never on a tick of its own while a faster pace is held.
    if (pacesTransitions())
        return m_lastTick + shortest.value_or(interval(Pace::Ambient));
    return next.value_or(m_lastTick + interval(Pace::Ambient));
}

bool FrameClock::isDue(QObject *holder) const
{
    const auto held = m_holders.constFind(holder);
    return held != m_holders.cend() && (m_stepping & bit(*held));
}

void FrameClock::setRenderProfile(RenderProfile profile)
{
    if (m_profile == profile)
        return;
    m_profile = profile;
    if (isRunning()) {
        // Every pace starts afresh at the new profile's intervals.
        m_lastTick = m_clock->now();
        m_lastDue.fill(m_lastTick);
        if (!m_ticking) {
            m_token.cancel();
            m_token = CancellationToken();
            run(m_token, nextDue());
        }
    }
    emit renderProfileChanged();
}

void FrameClock::release(QObject *holder)
{
    if (!m_holders.contains(holder))
        return;
    const bool wasRunning = isRunning();
    m_holders.remove(holder);
    disconnect(m_watch.take(holder));
    startOrStop(wasRunning);
}

void FrameClock::startOrStop(bool wasRunning)
{
    if (wasRunning == isRunning())
        return;
    if (isRunning()) {
        m_token = CancellationToken();
        m_ticking = false;
        m_lastTick = m_clock->now();
        m_lastDue.fill(m_lastTick);
        run(m_token, nextDue()); // runs until the token fires
    } else {
        m_token.cancel();
        runPending();
    }
    emit runningChanged();
}

// A faster pace takes effect at once: the tick already waited for may be up to a slow interval
// away, and a transition's first step should not wait for it.
void FrameClock::rearm()
{
    if (m_ticking)
        return; // the running tick reads the paces when it ends
    m_token.cancel();
    m_token = CancellationToken();
    run(m_token, std::max(m_clock->now(), nextDue()));
}

void FrameClock::atNextTick(QObject *context, std::function<void()> call)
{
    if (!isRunning()) {
        call();
        return;
    }
    for (auto &pending : m_pending) {
        if (pending.first == context) {
            pending.second = std::move(call);
            return;
        }
    }
    m_pending.append({QPointer<QObject>(context), std::move(call)});
}

void FrameClock::runPending()
{
    const auto pending = std::exchange(m_pending, {});
    for (const auto &[context, call] : pending) {
        if (context)
            call();
    }
}

void FrameClock::stepDuePaces(ContinuousInstant now, ContinuousInstant due)
{
    m_stepping = 0;
    if (pacesTransitions()) {
        // A late wake starts a fresh interval rather than catching up in a burst.
        m_lastTick = due + (nextDue() - m_lastTick) <= now ? now : due;
    } else {
        m_lastTick = now;
    }
    for (const Pace pace : allPaces) {
        const ContinuousInstant paceDue = m_lastDue[size_t(pace)] + interval(pace);
        if (!isHeld(pace) || now < paceDue)
            continue;
        m_stepping |= bit(pace);
        m_lastDue[size_t(pace)] = paceDue + interval(pace) <= now ? m_lastTick : paceDue;
    }
}

QCoro::Task<void> FrameClock::run(CancellationToken token, ContinuousInstant first)
{
    QPointer<FrameClock> self(this);
    ContinuousClock *clock = m_clock;
    ContinuousInstant next = first;
    while (true) {
        try {
            co_await clock->sleepUntil(next, token);
        } catch (const CancelledError &) {
            co_return;
        }
        if (!self || token.isCancelled())
            co_return;
        const ContinuousInstant now = clock->now();
        self->stepDuePaces(now, next);
        // What runs in the tick may start a transition; the next tick then follows its pace.
        self->m_ticking = true;
        self->runPending();
        if (self && !token.isCancelled())
            emit self->ticked(now.seconds());
        if (!self || token.isCancelled())
            co_return;
        self->m_ticking = false;
        self->m_stepping = 0;
        next = self->nextDue();
    }
}
