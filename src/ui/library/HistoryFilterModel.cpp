#include "ui/library/HistoryFilterModel.h"

#include "core/store/SongRecord.h"
#include "ui/library/SongListModel.h"

HistoryFilterModel::HistoryFilterModel(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    setDynamicSortFilter(false);
    connect(this, &QAbstractItemModel::modelReset, this, &HistoryFilterModel::updateEmptyMessage);
    connect(this, &QAbstractItemModel::rowsInserted, this, &HistoryFilterModel::updateEmptyMessage);
    connect(this, &QAbstractItemModel::rowsRemoved, this, &HistoryFilterModel::updateEmptyMessage);
    connect(this, &QAbstractItemModel::layoutChanged, this, &HistoryFilterModel::updateEmptyMessage);
    updateEmptyMessage();
}

SongListModel *HistoryFilterModel::songs() const
{
    return m_songs;
}

void HistoryFilterModel::setSongs(SongListModel *songs)
{
    if (m_songs == songs)
        return;
    if (m_songs)
        disconnect(m_songs, nullptr, this, nullptr);
    m_songs = songs;
    if (songs) {
        // Before the proxy takes the reset in, so the new rows are folded afresh.
        connect(songs, &QAbstractItemModel::modelAboutToBeReset, this, &HistoryFilterModel::sourceReset);
        connect(songs, &QObject::destroyed, this, [this] { m_songs = nullptr; });
    }
    sourceReset();
    setSourceModel(songs);
    updateEmptyMessage();
    emit songsChanged();
}

void HistoryFilterModel::sourceReset()
{
    m_folded.clear();
    m_isFolded.clear();
}

void HistoryFilterModel::setSearchText(const QString &text)
{
    if (m_searchText == text)
        return;
    m_searchText = text;
    m_query = LibraryRules::HistoryQuery(text);
    invalidateRowsFilter();
    emit searchTextChanged();
    updateEmptyMessage();
}

bool HistoryFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const LibraryRules::HistoryQuery &query = m_query;
    if (query.keepsAll())
        return true;
    SongRecord *song = m_songs ? m_songs->songAt(sourceRow) : nullptr;
    if (!song)
        return false;
    if (m_isFolded.size() != m_songs->count()) {
        m_folded = QList<std::pair<QString, QString>>(m_songs->count());
        m_isFolded = QList<bool>(m_songs->count(), false);
    }
    if (!m_isFolded.at(sourceRow)) {
        m_folded[sourceRow] = {LibraryRules::foldForSearch(song->title()), LibraryRules::foldForSearch(song->artist())};
        m_isFolded[sourceRow] = true;
    }
    const auto &[title, artist] = m_folded.at(sourceRow);
    return query.matchesFolded(title, artist);
}

void HistoryFilterModel::updateEmptyMessage()
{
    QString message;
    if (!m_songs || m_songs->count() == 0)
        message = QString::fromUtf8(noHistoryText);
    else if (rowCount() == 0)
        message = QString::fromUtf8(noMatchText);
    if (message == m_emptyMessage)
        return;
    m_emptyMessage = message;
    emit emptyMessageChanged();
}
