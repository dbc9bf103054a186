#pragma once

#include "ui/library/StoredListModel.h"

class LearnedCard;

// A grid of stored cards (favourite cards, mastered cards) laid out as rows of `columns` cells
// for a lazily built list: row r holds the cards r × columns … r × columns + columns − 1. The
// column count follows the view's width (LibraryRules::columnCount); a new count regroups the
// rows. A cell reads the live card, so a flag changed anywhere redraws it.
class CardGridModel : public StoredListModel
{
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(double viewWidth READ viewWidth WRITE setViewWidth NOTIFY viewWidthChanged)
    Q_PROPERTY(int columns READ columns NOTIFY columnsChanged)
    Q_PROPERTY(double cellWidth READ cellWidth NOTIFY viewWidthChanged)

public:
    enum Role { CardsRole = Qt::UserRole + 1, FirstIndexRole };

    explicit CardGridModel(QObject *parent = nullptr);

    double viewWidth() const { return m_width; }
    void setViewWidth(double width);
    int columns() const { return m_columns; }
    double cellWidth() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE LearnedCard *cardAt(int index) const;

signals:
    void viewWidthChanged();
    void columnsChanged();

protected:
    int rowsForObjects() const override { return rowCount(); }
    int rowOfObject(int index) const override { return index / m_columns; }

private:
    double m_width = 0;
    int m_columns = 1;
};

// The favourite cards, most recently favourited first.
class FavoriteCardsModel : public CardGridModel
{
    Q_OBJECT
    QML_ELEMENT

public:
    using CardGridModel::CardGridModel;

protected:
    QList<StoredModel *> fetchObjects(CardStore &store) override;
    std::optional<ModelContext::SlicedFetch> slicedFetch(CardStore &store) override;
};

// The mastered cards, most recently mastered first, with the header's figures and the card the
// unmaster popover is open for.
class MasteredCardsModel : public CardGridModel
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(int songCount READ songCount NOTIFY fetched)
    Q_PROPERTY(QString summary READ summary NOTIFY fetched)
    Q_PROPERTY(LearnedCard *selectedCard READ selectedCard WRITE setSelectedCard NOTIFY selectedCardChanged)

public:
    using CardGridModel::CardGridModel;

    // Distinct song keys among the cards (the cards' own keys, not their songs), as stored.
    int songCount() const { return m_songCount; }
    // "已掌握 N 张卡片，来自 M 首歌曲".
    QString summary() const;
    LearnedCard *selectedCard() const;
    void setSelectedCard(LearnedCard *card);

    // The popover's button: closes the popover and takes the selected card out of the mastered
    // set on the store's background writer; the list is fetched again once that has landed or
    // failed (the store announces a failure).
    Q_INVOKABLE void unmasterSelected();

signals:
    void selectedCardChanged();

protected:
    QList<StoredModel *> fetchObjects(CardStore &store) override;
    std::optional<ModelContext::SlicedFetch> slicedFetch(CardStore &store) override;
    void slicedFetchDone(CardStore &store) override;
    void objectsReplaced() override;

private:
    int m_songCount = 0;
    int m_fetchedSongCount = 0; // counted by the last fetch, taken by objectsReplaced()
    QPointer<LearnedCard> m_selected;
    QMetaObject::Connection m_selectedReleased;
};
