#pragma once

#include "core/store/CardStore.h"
#include "core/store/LearnedCard.h"
#include "session/ToastCenter.h"
#include "session/player/CardLightingCoordinator.h"

#include <QObject>
#include <QPointer>
#include <QVariant>

#include <QtQml/qqmlregistration.h>

// The logic behind one stored card on screen: the texts its glass card shows (time chip,
// pronunciation line, culture row) and its actions, which write on the store's background writer
// and report a failed write as a toast. Holds the card weakly: a card deleted in the store reads as none.
class ExtendedGlassCardController : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(LearnedCard *card READ card WRITE setCard NOTIFY cardChanged)
    Q_PROPERTY(CardStore *cardStore MEMBER m_cardStore NOTIFY cardStoreChanged)
    Q_PROPERTY(ToastCenter *toastCenter MEMBER m_toastCenter NOTIFY toastCenterChanged)
    Q_PROPERTY(CardLightingCoordinator *cardLighting MEMBER m_cardLighting NOTIFY cardLightingChanged)
    // Seconds, or undefined: the slot's line time, which replaces the card's own (0 is a time).
    Q_PROPERTY(QVariant slotLineTimestamp READ slotLineTimestamp WRITE setSlotLineTimestamp NOTIFY textsChanged)
    Q_PROPERTY(QString cardId READ cardId NOTIFY textsChanged)
    // "m:ss", or "" for no chip.
    Q_PROPERTY(QString timeChipText READ timeChipText NOTIFY textsChanged)
    Q_PROPERTY(QString timeChipAccessibleText READ timeChipAccessibleText NOTIFY textsChanged)
    // The pronunciation row's text, or null for no row.
    Q_PROPERTY(QVariant pronunciationText READ pronunciationText NOTIFY textsChanged)
    // The culture row's text, or null for no row (an empty hint has none).
    Q_PROPERTY(QVariant culturalText READ culturalText NOTIFY textsChanged)
    // The card's lit and dimmed state, for the redraw traces.
    Q_PROPERTY(bool isActive READ isActive WRITE setIsActive NOTIFY lookChanged)
    Q_PROPERTY(bool isDimmed READ isDimmed WRITE setIsDimmed NOTIFY lookChanged)

public:
    explicit ExtendedGlassCardController(QObject *parent = nullptr);

    LearnedCard *card() const { return m_card; }
    void setCard(LearnedCard *card);
    QVariant slotLineTimestamp() const;
    void setSlotLineTimestamp(const QVariant &seconds);

    QString cardId() const { return m_card ? m_card->cardId() : QString(); }
    bool isActive() const { return m_isActive; }
    void setIsActive(bool active);
    bool isDimmed() const { return m_isDimmed; }
    void setIsDimmed(bool dimmed);
    // The slot's time when set, else the card's.
    std::optional<double> lineTimestamp() const;
    QString timeChipText() const;
    QString timeChipAccessibleText() const;
    QVariant pronunciationText() const;
    QVariant culturalText() const;

    // The mastered button: reads the flag at the tap; unmarks a mastered card, marks another.
    Q_INVOKABLE void toggleMastered();
    Q_INVOKABLE void toggleFavorite();
    // A tap on the card: manual lighting with this card, the idle wait starting again.
    Q_INVOKABLE void select();

signals:
    void cardChanged();
    void cardStoreChanged();
    void toastCenterChanged();
    void cardLightingChanged();
    void textsChanged();
    void lookChanged();

private:
    void traceRedraw() const;

    QPointer<LearnedCard> m_card;
    QPointer<CardStore> m_cardStore;
    QPointer<ToastCenter> m_toastCenter;
    QPointer<CardLightingCoordinator> m_cardLighting;
    std::optional<double> m_slotLineTimestamp;
    bool m_isActive = false;
    bool m_isDimmed = false;
    QList<QMetaObject::Connection> m_cardConnections;
};
