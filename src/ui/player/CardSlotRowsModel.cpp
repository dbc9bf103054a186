#include "CardSlotRowsModel.h"

#include "core/store/LearnedCard.h"

int CardSlotRowsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant CardSlotRowsModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = m_rows.at(index.row());
    switch (role) {
    case CardRole:
        return QVariant::fromValue<QObject *>(row.card.data());
    case SlotIdRole:
        return row.slot.slotId;
    case IsActiveRole:
        return row.isActive;
    case IsDimmedRole:
        return row.isDimmed;
    case PreflightProgressRole:
        return row.preflightProgress;
    case HasRepeatLabelRole:
        return row.slot.repeatLabel.has_value();
    case RepeatNRole:
        return row.slot.repeatLabel ? row.slot.repeatLabel->n : 0;
    case RepeatTotalRole:
        return row.slot.repeatLabel ? row.slot.repeatLabel->total : 0;
    case SlotLineTimestampRole:
        return row.slot.lineTimestamp ? QVariant(*row.slot.lineTimestamp) : QVariant();
    default:
        return {};
    }
}

QHash<int, QByteArray> CardSlotRowsModel::roleNames() const
{
    return {
        {CardRole, "card"},
        {SlotIdRole, "slotId"},
        {IsActiveRole, "isActive"},
        {IsDimmedRole, "isDimmed"},
        {PreflightProgressRole, "preflightProgress"},
        {HasRepeatLabelRole, "hasRepeatLabel"},
        {RepeatNRole, "repeatN"},
        {RepeatTotalRole, "repeatTotal"},
        {SlotLineTimestampRole, "slotLineTimestamp"},
    };
}

int CardSlotRowsModel::indexOfSlot(const QString &slotId) const
{
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).slot.slotId == slotId)
            return int(i);
    }
    return -1;
}

void CardSlotRowsModel::setSlots(const SlotCacheKey &key, const QList<CardSlot> &slotList,
                                 const QHash<QString, LearnedCard *> &cardsById)
{
    QList<Row> rows;
    rows.reserve(slotList.size());
    for (const CardSlot &slot : slotList) {
        LearnedCard *card = cardsById.value(slot.cardId);
        if (card)
            rows.append(Row{slot, card});
    }
    const bool sameCards = rows.size() == m_rows.size()
        && std::equal(rows.cbegin(), rows.cend(), m_rows.cbegin(), [](const Row &a, const Row &b) {
               return a.slot == b.slot && a.card == b.card;
           });
    // A new key with the same slots over the same cards (a card mastered) keeps the rows and
    // their delegates, so the card's own transition plays.
    if (sameCards) {
        m_key = key;
        return;
    }
    const int oldCount = count();
    beginResetModel();
    m_key = key;
    m_rows = std::move(rows);
    endResetModel();
    if (count() != oldCount)
        emit countChanged();
}

void CardSlotRowsModel::clear()
{
    if (!m_key && m_rows.isEmpty())
        return;
    const int oldCount = count();
    beginResetModel();
    m_key.reset();
    m_rows.clear();
    endResetModel();
    if (oldCount != 0)
        emit countChanged();
}

void CardSlotRowsModel::publish(const Playback &playback)
{
    static const QList<int> changedRoles{IsActiveRole, IsDimmedRole, PreflightProgressRole};
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        Row &row = m_rows[i];
        const bool active = playback.activeSlotId && *playback.activeSlotId == row.slot.slotId;
        const bool dimmed = !active && playback.dimUnlit;
        const double preflight = !active && playback.upcoming && row.card == playback.upcoming
            ? NowViewRules::preflightProgress(row.card->lineTimestamp(), playback.elapsed)
            : 0.0;
        if (active == row.isActive && dimmed == row.isDimmed && preflight == row.preflightProgress)
            continue;
        row.isActive = active;
        row.isDimmed = dimmed;
        row.preflightProgress = preflight;
        const QModelIndex at = index(int(i));
        emit dataChanged(at, at, changedRoles);
    }
}
