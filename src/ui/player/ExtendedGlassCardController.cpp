#include "ExtendedGlassCardController.h"

#include "GlassCardLooks.h"
#include "PlayerFormat.h"
#include "diagnostics/RenderLoopProbe.h"
#include "session/CantorellaError.h"

#include <cmath>

namespace {
constexpr double toastSeconds = 1.5;
} // namespace

ExtendedGlassCardController::ExtendedGlassCardController(QObject *parent)
    : QObject(parent)
{
}

void ExtendedGlassCardController::setCard(LearnedCard *card)
{
    if (m_card == card)
        return;
    for (const auto &c : std::as_const(m_cardConnections))
        disconnect(c);
    m_cardConnections.clear();
    m_card = card;
    if (card) {
        for (auto signal : {&LearnedCard::lineTimestampChanged, &LearnedCard::pronunciationHintJSONChanged,
                            &LearnedCard::culturalHintChanged, &LearnedCard::cardIdChanged})
            m_cardConnections << connect(card, signal, this, &ExtendedGlassCardController::textsChanged);
        m_cardConnections << connect(card, &QObject::destroyed, this, [this] {
            emit cardChanged();
            emit textsChanged();
        });
    }
    emit cardChanged();
    emit textsChanged();
}

void ExtendedGlassCardController::setIsActive(bool active)
{
    if (m_isActive == active)
        return;
    m_isActive = active;
    traceRedraw();
    emit lookChanged();
}

void ExtendedGlassCardController::setIsDimmed(bool dimmed)
{
    if (m_isDimmed == dimmed)
        return;
    m_isDimmed = dimmed;
    traceRedraw();
    emit lookChanged();
}

void ExtendedGlassCardController::traceRedraw() const
{
    if (!m_card)
        return;
    using PlayerFormat::traceBool;
    RenderLoopProbe &probe = RenderLoopProbe::shared();
    probe.trace(QStringLiteral("ExtendedGlassCardView.body"),
                QStringLiteral("card=%1 active=%2 dimmed=%3").arg(m_card->cardId(), traceBool(m_isActive), traceBool(m_isDimmed)),
                50);
    probe.trace(QStringLiteral("GlassCardView.body"),
                QStringLiteral("id=%1 active=%2 dimmed=%3").arg(m_card->cardId(), traceBool(m_isActive), traceBool(m_isDimmed)),
                50);
    probe.trace(QStringLiteral("GlassCardView.cardContent"),
                QStringLiteral("id=%1 active=%2").arg(m_card->cardId(), traceBool(m_isActive)), 50);
}

QVariant ExtendedGlassCardController::slotLineTimestamp() const
{
    return m_slotLineTimestamp ? QVariant(*m_slotLineTimestamp) : QVariant();
}

void ExtendedGlassCardController::setSlotLineTimestamp(const QVariant &seconds)
{
    std::optional<double> value;
    bool ok = false;
    const double d = seconds.isValid() && !seconds.isNull() ? seconds.toDouble(&ok) : 0.0;
    if (ok)
        value = d;
    if (value == m_slotLineTimestamp)
        return;
    m_slotLineTimestamp = value;
    emit textsChanged();
}

std::optional<double> ExtendedGlassCardController::lineTimestamp() const
{
    if (m_slotLineTimestamp)
        return m_slotLineTimestamp;
    return m_card ? m_card->lineTimestamp() : std::nullopt;
}

QString ExtendedGlassCardController::timeChipText() const
{
    return GlassCardRules::timeChipText(lineTimestamp()).value_or(QString());
}

QString ExtendedGlassCardController::timeChipAccessibleText() const
{
    return GlassCardRules::timeChipAccessibleText(lineTimestamp()).value_or(QString());
}

QVariant ExtendedGlassCardController::pronunciationText() const
{
    const std::optional<PronunciationHint> hint = m_card ? m_card->pronunciationHint() : std::nullopt;
    return hint ? QVariant(GlassCardRules::pronunciationText(*hint)) : QVariant();
}

QVariant ExtendedGlassCardController::culturalText() const
{
    const std::optional<QString> hint = m_card ? m_card->culturalHint() : std::nullopt;
    return hint && !hint->isEmpty() ? QVariant(*hint) : QVariant();
}

namespace {

// The write runs on the store's background writer; a failure becomes a toast.
QCoro::Task<void> reportFailure(QPointer<ToastCenter> toasts, QCoro::Task<void> write)
{
    std::exception_ptr failure;
    try {
        co_await std::move(write);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure && toasts)
        toasts->show(QStringLiteral("操作失败：") + localizedDescription(failure), toastSeconds);
}

} // namespace

void ExtendedGlassCardController::toggleMastered()
{
    if (!m_card || !m_cardStore)
        return;
    [[maybe_unused]] QCoro::Task<void> running =
        reportFailure(m_toastCenter, m_cardStore->setMasteredInBackground(m_card, !m_card->isMastered()));
}

void ExtendedGlassCardController::toggleFavorite()
{
    if (!m_card || !m_cardStore)
        return;
    [[maybe_unused]] QCoro::Task<void> running =
        reportFailure(m_toastCenter, m_cardStore->toggleFavoriteInBackground(m_card));
}

void ExtendedGlassCardController::select()
{
    if (m_card && m_cardLighting)
        m_cardLighting->select(m_card->cardId());
}
