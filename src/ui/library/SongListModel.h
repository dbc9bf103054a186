#pragma once

#include "session/qml/ClockHandle.h"
#include "ui/library/StoredListModel.h"

#include <QDateTime>
#include <QHash>

class SongRecord;
class WallClock;

// A list of stored songs (History, favourite songs): each row carries the live record, whether
// it is the playing song, and how long ago it was last played, seen from the moment the list
// was fetched. Only the two computed roles are announced by the model: the playing row changes
// with currentSongKey (the old and new rows only); the time with a new fetch, and for one row when
// its song is played again (then seen from that moment).
class SongListModel : public StoredListModel
{
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(QString currentSongKey READ currentSongKey WRITE setCurrentSongKey NOTIFY currentSongKeyChanged)
    Q_PROPERTY(ClockHandle *clocks READ clocks WRITE setClocks NOTIFY clocksChanged)

public:
    enum Role { SongRole = Qt::UserRole + 1, IsPlayingRole, LastPlayedTextRole };

    explicit SongListModel(QObject *parent = nullptr);
    ~SongListModel() override;

    // Empty: nothing is playing.
    QString currentSongKey() const { return m_currentKey; }
    void setCurrentSongKey(const QString &key);
    ClockHandle *clocks() const;
    void setClocks(ClockHandle *clocks);
    // The clock "now" is read from at each fetch (the system's when none is set).
    void setWallClock(WallClock *clock) { m_wallClock = clock; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE SongRecord *songAt(int row) const;
    // The row's heart: flips the song's favourite flag in the store; a failure changes nothing.
    Q_INVOKABLE void toggleFavorite(SongRecord *song);

signals:
    void currentSongKeyChanged();
    void clocksChanged();

protected:
    void objectsReplaced() override;

private:
    QList<int> rowsOfKey(const QString &key);
    void watchPlays();
    void songPlayed(SongRecord *song);

    QString m_currentKey;
    QPointer<ClockHandle> m_clocks;
    WallClock *m_wallClock = nullptr;
    QDateTime m_fetchedAt;
    // Songs played again since the fetch, by key: their text is seen from that moment instead.
    QHash<QString, QDateTime> m_replayedAt;
    QMetaObject::Connection m_playedConnection;
    // Song key → row, made on the first change of the playing song after a fetch.
    QMultiHash<QString, int> m_rowOfKey;
    bool m_rowOfKeyBuilt = false;
};

// Every song played, last played first.
class HistoryModel : public SongListModel
{
    Q_OBJECT
    QML_ELEMENT

public:
    using SongListModel::SongListModel;

protected:
    QList<StoredModel *> fetchObjects(CardStore &store) override;
    std::optional<ModelContext::SlicedFetch> slicedFetch(CardStore &store) override;
};

// The favourite songs, most recently favourited first.
class FavoriteSongsModel : public SongListModel
{
    Q_OBJECT
    QML_ELEMENT

public:
    using SongListModel::SongListModel;

protected:
    QList<StoredModel *> fetchObjects(CardStore &store) override;
    std::optional<ModelContext::SlicedFetch> slicedFetch(CardStore &store) override;
};
