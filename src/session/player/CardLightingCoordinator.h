#pragma once

#include "platform/Cancellation.h"
#include "platform/Clock.h"

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

struct LearnedCardVM;

// Who decides the lit card: playback (automatic), or the user, who picked a card by hand.
class LightingMode
{
public:
    static LightingMode automatic() { return LightingMode(); }
    static LightingMode manual(QString cardId) { return LightingMode(std::move(cardId)); }

    bool isAuto() const { return !m_cardId.has_value(); }
    // The picked card of a manual mode; none in automatic mode.
    const std::optional<QString> &manualCardId() const { return m_cardId; }

    friend bool operator==(const LightingMode &, const LightingMode &) = default;

private:
    LightingMode() = default;
    explicit LightingMode(QString cardId) : m_cardId(std::move(cardId)) {}
    std::optional<QString> m_cardId;
};

// Which study card is lit while a song plays. By default the card whose line playback reached
// most recently (within five seconds); a card the user picks stays lit until eight seconds pass
// without interaction, then the lit card follows playback again. GUI thread only. Properties
// notify only when their value changes.
class CardLightingCoordinator : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isAuto READ isAuto NOTIFY modeChanged)
    // Card ids are never empty (they hold at least the "|"), so "" stands for none.
    Q_PROPERTY(QString litCardId READ litCardIdText NOTIFY litCardIdChanged)
    Q_PROPERTY(QString autoFollowLitCardId READ autoFollowLitCardIdText NOTIFY autoFollowLitCardIdChanged)

public:
    static constexpr std::chrono::seconds idleDuration{8};

    // `clock` measures the idle wait; it must outlive the coordinator.
    explicit CardLightingCoordinator(ContinuousClock *clock = ContinuousClock::system(), QObject *parent = nullptr);
    ~CardLightingCoordinator() override;

    const LightingMode &mode() const { return m_mode; }
    void setMode(const LightingMode &mode);
    bool isAuto() const { return m_mode.isAuto(); }

    // The card playback would light now; kept current in both modes.
    const std::optional<QString> &autoFollowLitCardId() const { return m_autoFollowLitCardId; }
    void setAutoFollowLitCardId(const std::optional<QString> &cardId);

    // The card to light: the picked card in manual mode, else the playback card.
    std::optional<QString> litCardId() const;

    // Recomputes the playback card for `position` (seconds, lyrics offset included). Never
    // changes the mode.
    void update(const QList<LearnedCardVM> &cards, double position);

    // The user picked a card: manual mode with it, and the idle wait starts again.
    Q_INVOKABLE void select(const QString &cardId);
    // (Re)starts the eight-second wait after which a manual choice ends. Each call replaces the
    // previous wait.
    Q_INVOKABLE void restartIdleTimer();
    // Back to automatic mode with no pending wait. The playback card is kept.
    void reset();

    // True while an idle wait is held (pending, or ended without being cleared).
    bool hasIdleTimer() const { return m_idleTimer.has_value(); }
    // Cancels the pending wait and forgets it.
    void clearIdleTimer();

    QString litCardIdText() const { return litCardId().value_or(QString()); }
    QString autoFollowLitCardIdText() const { return m_autoFollowLitCardId.value_or(QString()); }

signals:
    void modeChanged();
    void autoFollowLitCardIdChanged();
    void litCardIdChanged();

private:
    // Emits the changed signals once every field of one update has been written.
    template<class Write>
    void changing(Write write);

    ContinuousClock *m_clock;
    LightingMode m_mode = LightingMode::automatic();
    std::optional<QString> m_autoFollowLitCardId;
    std::optional<CancellationToken> m_idleTimer;
};

// The coordinator a view uses when none was installed for it: one, made on first use, shared by
// every such view. The application installs its own.
namespace CardLightingCoordinatorKey {
CardLightingCoordinator *defaultValue();
} // namespace CardLightingCoordinatorKey
