#pragma once

#include "NowViewRules.h"
#include "session/player/CardSlot.h"

#include <QAbstractListModel>
#include <QPointer>

#include <QtQml/qqmlregistration.h>

#include <optional>

class LearnedCard;

// The rows of the Now card list: one per slot whose card exists, in slot order. The rows are
// rebuilt (a model reset) only when the slot cache key changes and the slots or their card
// objects differ; a publish of the playback state only reports the rows whose lit, dimmed or preflight
// value changed.
class CardSlotRowsModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The Now view's controller owns its rows.")
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        CardRole = Qt::UserRole + 1,
        SlotIdRole,
        IsActiveRole,
        IsDimmedRole,
        PreflightProgressRole,
        HasRepeatLabelRole,
        RepeatNRole,
        RepeatTotalRole,
        SlotLineTimestampRole, // seconds, or undefined for an untimed slot
    };

    struct Row
    {
        CardSlot slot;
        QPointer<LearnedCard> card;
        bool isActive = false;
        bool isDimmed = false;
        double preflightProgress = 0;
    };

    // What a publish hands the rows: the lit slot, whether unlit rows are dimmed, the upcoming
    // card and the position its bar is measured at.
    struct Playback
    {
        std::optional<QString> activeSlotId;
        bool dimUnlit = false;
        const LearnedCard *upcoming = nullptr;
        double elapsed = 0;
    };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const { return int(m_rows.size()); }
    const QList<Row> &rows() const { return m_rows; }
    // The row of a slot, or -1.
    Q_INVOKABLE int indexOfSlot(const QString &slotId) const;

    // The rows of `slots` whose card id is in `cardsById`. Resets only when the slots or their
    // card objects differ from the rows'.
    void setSlots(const SlotCacheKey &key, const QList<CardSlot> &slotList,
                  const QHash<QString, LearnedCard *> &cardsById);
    void clear();
    // Writes the playback state into every row; dataChanged for the rows that changed.
    void publish(const Playback &playback);

signals:
    void countChanged();

private:
    std::optional<SlotCacheKey> m_key;
    QList<Row> m_rows;
};
