#pragma once

#include "ui/library/LibraryRules.h"
#include "ui/library/SongListModel.h"

#include <QSortFilterProxyModel>
#include <QtQml/qqmlregistration.h>

// The History list as the search text filters it (LibraryRules::HistoryQuery), in the source's
// order, and the empty state's message: "还没有播放记录" without any song, "没有匹配的歌曲"
// when the search keeps none, else empty. Titles and artists are folded once per fetch, on the
// first search that needs them.
class HistoryFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(SongListModel *songs READ songs WRITE setSongs NOTIFY songsChanged)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(QString emptyMessage READ emptyMessage NOTIFY emptyMessageChanged)

public:
    static constexpr const char *noHistoryText = "还没有播放记录";
    static constexpr const char *noMatchText = "没有匹配的歌曲";

    explicit HistoryFilterModel(QObject *parent = nullptr);

    SongListModel *songs() const;
    void setSongs(SongListModel *songs);
    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    QString emptyMessage() const { return m_emptyMessage; }

signals:
    void songsChanged();
    void searchTextChanged();
    void emptyMessageChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    void sourceReset();
    void updateEmptyMessage();

    SongListModel *m_songs = nullptr;
    QString m_searchText;
    LibraryRules::HistoryQuery m_query{QString()};
    QString m_emptyMessage;
    // Folded title and artist per source row, filled on demand; cleared when the source resets.
    mutable QList<std::pair<QString, QString>> m_folded;
    mutable QList<bool> m_isFolded;
};
