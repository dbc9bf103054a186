#include "ui/library/SongListModel.h"

#include "core/store/SongRecord.h"
#include "platform/Text.h"
#include "session/qml/ClockHandle.h"
#include "ui/design/RelativeTime.h"

#include <QTimeZone>

SongListModel::SongListModel(QObject *parent)
    : StoredListModel(parent)
{
    connect(this, &StoredListModel::cardStoreChanged, this, &SongListModel::watchPlays);
}

SongListModel::~SongListModel() = default;

void SongListModel::watchPlays()
{
    // A song played again redraws its row's "last played" text, seen from that moment.
    disconnect(m_playedConnection);
    if (CardStore *store = cardStore())
        m_playedConnection = connect(store, &CardStore::songLastPlayedAtChanged, this, &SongListModel::songPlayed);
}

void SongListModel::songPlayed(SongRecord *song)
{
    const int i = indexOfObject(song);
    if (i < 0)
        return;
    m_replayedAt.insert(song->key(), (m_wallClock ? m_wallClock : WallClock::system())->now());
    const QModelIndex at = index(rowOfObject(i));
    emit dataChanged(at, at, {LastPlayedTextRole});
}

ClockHandle *SongListModel::clocks() const
{
    return m_clocks;
}

void SongListModel::setClocks(ClockHandle *clocks)
{
    if (m_clocks == clocks)
        return;
    m_clocks = clocks;
    m_wallClock = clocks ? clocks->wall() : nullptr;
    emit clocksChanged();
}

void SongListModel::objectsReplaced()
{
    WallClock *clock = m_wallClock ? m_wallClock : WallClock::system();
    m_fetchedAt = clock->now();
    m_replayedAt.clear();
    m_rowOfKey.clear();
    m_rowOfKeyBuilt = false;
}

int SongListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

SongRecord *SongListModel::songAt(int row) const
{
    return static_cast<SongRecord *>(objectAt(row));
}

QVariant SongListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    SongRecord *song = songAt(index.row());
    switch (role) {
    case SongRole:
        return QVariant::fromValue(song);
    case IsPlayingRole:
        return song && !m_currentKey.isEmpty() && Text::canonicallyEqual(song->key(), m_currentKey);
    case LastPlayedTextRole:
        return song ? relativeTimeText(song->lastPlayedAt(), m_replayedAt.value(song->key(), m_fetchedAt),
                                       QTimeZone::systemTimeZone())
                    : QString();
    default:
        return {};
    }
}

QHash<int, QByteArray> SongListModel::roleNames() const
{
    return {{SongRole, "song"}, {IsPlayingRole, "isPlaying"}, {LastPlayedTextRole, "lastPlayedText"}};
}

QList<int> SongListModel::rowsOfKey(const QString &key)
{
    if (key.isEmpty())
        return {};
    // Under the canonical spelling: two stored spellings of one song are both its rows.
    if (!m_rowOfKeyBuilt) {
        m_rowOfKey.reserve(count());
        for (int i = 0; i < count(); ++i) {
            if (SongRecord *song = songAt(i))
                m_rowOfKey.insert(Text::canonical(song->key()), i);
        }
        m_rowOfKeyBuilt = true;
    }
    return m_rowOfKey.values(Text::canonical(key));
}

void SongListModel::setCurrentSongKey(const QString &key)
{
    if (m_currentKey == key)
        return;
    const QString previous = std::exchange(m_currentKey, key);
    for (const QString &k : {previous, key}) {
        for (int row : rowsOfKey(k)) {
            const QModelIndex i = index(row);
            emit dataChanged(i, i, {IsPlayingRole});
        }
    }
    emit currentSongKeyChanged();
}

void SongListModel::toggleFavorite(SongRecord *song)
{
    if (!song || !cardStore() || song->isDeleted())
        return;
    // On the store's background writer; the heart follows the record when the write lands, and
    // a failure is announced by the store.
    cardStore()->requestToggleFavorite(song);
}

QList<StoredModel *> HistoryModel::fetchObjects(CardStore &store)
{
    return upcast(store.allSongs());
}

std::optional<ModelContext::SlicedFetch> HistoryModel::slicedFetch(CardStore &store)
{
    return store.context().slicedSongFetch(ModelContext::SongFetch::ByLastPlayedDesc);
}

QList<StoredModel *> FavoriteSongsModel::fetchObjects(CardStore &store)
{
    return upcast(store.favoriteSongs());
}

std::optional<ModelContext::SlicedFetch> FavoriteSongsModel::slicedFetch(CardStore &store)
{
    return store.context().slicedSongFetch(ModelContext::SongFetch::FavoritesByFavoritedAtDesc);
}
