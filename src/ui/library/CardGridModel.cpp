#include "ui/library/CardGridModel.h"

#include "core/store/LearnedCard.h"
#include "core/store/ModelContext.h"
#include "ui/library/LibraryRules.h"

#include <utility>

CardGridModel::CardGridModel(QObject *parent)
    : StoredListModel(parent)
{
}

void CardGridModel::setViewWidth(double width)
{
    if (qFuzzyCompare(m_width + 1, width + 1))
        return;
    m_width = width;
    const int columns = LibraryRules::columnCount(width);
    if (columns != m_columns) {
        beginResetModel();
        m_columns = columns;
        endResetModel();
        emit columnsChanged();
    }
    emit viewWidthChanged();
}

double CardGridModel::cellWidth() const
{
    return LibraryRules::cellWidth(m_width, m_columns);
}

int CardGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : (count() + m_columns - 1) / m_columns;
}

LearnedCard *CardGridModel::cardAt(int index) const
{
    return static_cast<LearnedCard *>(objectAt(index));
}

QVariant CardGridModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int first = index.row() * m_columns;
    switch (role) {
    case CardsRole: {
        // A card the store has released is left out; its row is fetched again shortly.
        QList<QObject *> cards;
        for (int i = first; i < std::min(first + m_columns, count()); ++i) {
            if (LearnedCard *card = cardAt(i))
                cards.append(card);
        }
        return QVariant::fromValue(cards);
    }
    case FirstIndexRole:
        return first;
    default:
        return {};
    }
}

QHash<int, QByteArray> CardGridModel::roleNames() const
{
    return {{CardsRole, "cards"}, {FirstIndexRole, "firstIndex"}};
}

QList<StoredModel *> FavoriteCardsModel::fetchObjects(CardStore &store)
{
    return upcast(store.favoriteCards());
}

std::optional<ModelContext::SlicedFetch> FavoriteCardsModel::slicedFetch(CardStore &store)
{
    return store.context().slicedCardFetch(ModelContext::CardFetch::FavoritesByFavoritedAtDesc);
}

std::optional<ModelContext::SlicedFetch> MasteredCardsModel::slicedFetch(CardStore &store)
{
    return store.context().slicedCardFetch(ModelContext::CardFetch::MasteredByMasteredAtDesc);
}

void MasteredCardsModel::slicedFetchDone(CardStore &store)
{
    // Counted once the list is complete: the state a later change would announce again.
    m_fetchedSongCount = store.context().countMasteredSongKeys();
}

QList<StoredModel *> MasteredCardsModel::fetchObjects(CardStore &store)
{
    // The list hands out faults; reading each card's song key would read every row. The count
    // is one query on an index instead, in the list's read so that both see the same state.
    ModelContext &context = store.context();
    return context.read([&] {
        const QList<LearnedCard *> cards = store.masteredCards();
        m_fetchedSongCount = context.countMasteredSongKeys();
        return upcast(cards);
    });
}

void MasteredCardsModel::objectsReplaced()
{
    // A failed fetch leaves the list empty: no songs either.
    const int fetched = std::exchange(m_fetchedSongCount, 0);
    m_songCount = count() > 0 ? fetched : 0;
}

QString MasteredCardsModel::summary() const
{
    return QStringLiteral("已掌握 %1 张卡片，来自 %2 首歌曲").arg(count()).arg(m_songCount);
}

LearnedCard *MasteredCardsModel::selectedCard() const
{
    return m_selected;
}

void MasteredCardsModel::setSelectedCard(LearnedCard *card)
{
    if (m_selected == card)
        return;
    disconnect(m_selectedReleased);
    m_selected = card;
    if (card) {
        // A card the store releases closes the popover.
        m_selectedReleased = connect(card, &QObject::destroyed, this, [this] {
            m_selected = nullptr;
            emit selectedCardChanged();
        });
    }
    emit selectedCardChanged();
}

void MasteredCardsModel::unmasterSelected()
{
    LearnedCard *card = m_selected;
    setSelectedCard(nullptr);
    if (!card || !cardStore() || card->isDeleted()) {
        reload();
        return;
    }
    // On the store's background writer; the list is fetched again once the write has landed
    // (or failed: the store announces that).
    cardStore()->requestSetMastered(card, false, this, [this] { reload(); });
}
