#include "session/player/CardLightingCoordinator.h"

#include "session/player/CardLightingRule.h"
#include "core/LearnedCardVM.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

namespace {

// The idle wait. Holds the coordinator weakly: a coordinator destroyed meanwhile is left alone.
QCoro::Task<void> returnToAutoWhenIdle(QPointer<CardLightingCoordinator> coordinator, ContinuousClock *clock,
                                       CancellationToken token)
{
    const std::chrono::nanoseconds duration = CardLightingCoordinator::idleDuration;
    try {
        co_await clock->sleepFor(duration, token);
    } catch (const CancelledError &) {
        co_return;
    }
    if (token.isCancelled() || !coordinator)
        co_return;
    if (!coordinator->mode().isAuto())
        coordinator->setMode(LightingMode::automatic());
}

} // namespace

CardLightingCoordinator::CardLightingCoordinator(ContinuousClock *clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
{
}

CardLightingCoordinator::~CardLightingCoordinator()
{
    if (m_idleTimer)
        m_idleTimer->cancel();
}

template<class Write>
void CardLightingCoordinator::changing(Write write)
{
    const LightingMode oldMode = m_mode;
    const std::optional<QString> oldAuto = m_autoFollowLitCardId;
    const std::optional<QString> oldLit = litCardId();
    write();
    if (m_mode != oldMode)
        emit modeChanged();
    if (m_autoFollowLitCardId != oldAuto)
        emit autoFollowLitCardIdChanged();
    if (litCardId() != oldLit)
        emit litCardIdChanged();
}

void CardLightingCoordinator::setMode(const LightingMode &mode)
{
    changing([&] { m_mode = mode; });
}

void CardLightingCoordinator::setAutoFollowLitCardId(const std::optional<QString> &cardId)
{
    changing([&] { m_autoFollowLitCardId = cardId; });
}

std::optional<QString> CardLightingCoordinator::litCardId() const
{
    if (m_mode.manualCardId())
        return m_mode.manualCardId();
    return m_autoFollowLitCardId;
}

void CardLightingCoordinator::update(const QList<LearnedCardVM> &cards, double position)
{
    const qsizetype chosen = CardLightingRule::pick(cards, position, [](const LearnedCardVM &card) {
        return card.lineTimestamp;
    });
    setAutoFollowLitCardId(chosen >= 0 ? std::optional<QString>(cards.at(chosen).id) : std::nullopt);
}

void CardLightingCoordinator::select(const QString &cardId)
{
    setMode(LightingMode::manual(cardId));
    restartIdleTimer();
}

void CardLightingCoordinator::restartIdleTimer()
{
    // Cancelling the old wait and starting the new one happen in one step on this thread, so at
    // most one wait can end a manual choice.
    if (m_idleTimer)
        m_idleTimer->cancel();
    CancellationToken token;
    m_idleTimer = token;
    returnToAutoWhenIdle(QPointer<CardLightingCoordinator>(this), m_clock, token);
}

void CardLightingCoordinator::clearIdleTimer()
{
    if (m_idleTimer)
        m_idleTimer->cancel();
    m_idleTimer.reset();
}

void CardLightingCoordinator::reset()
{
    setMode(LightingMode::automatic());
    clearIdleTimer();
}

namespace CardLightingCoordinatorKey {

CardLightingCoordinator *defaultValue()
{
    static CardLightingCoordinator *coordinator = new CardLightingCoordinator(); // lives as long as the process
    return coordinator;
}

} // namespace CardLightingCoordinatorKey
