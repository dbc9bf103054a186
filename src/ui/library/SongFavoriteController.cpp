#include "ui/library/SongFavoriteController.h"

#include "core/store/SongRecord.h"

SongFavoriteController::SongFavoriteController(QObject *parent)
    : QObject(parent)
{
}

void SongFavoriteController::setCardStore(CardStore *store)
{
    if (m_store == store)
        return;
    disconnect(m_mergeConnection);
    m_store = store;
    if (store) {
        m_mergeConnection = connect(store, &CardStore::externalChangesMerged, this, [this](const QStringList &keys) {
            if (hasKey() && keys.contains(m_key))
                lookUp();
        });
    }
    lookUp();
    emit cardStoreChanged();
}

void SongFavoriteController::setSongKey(const QString &key)
{
    if (m_key == key)
        return;
    m_key = key;
    lookUp();
    emit songKeyChanged();
}

void SongFavoriteController::lookUp()
{
    for (const auto &c : std::as_const(m_recordConnections))
        disconnect(c);
    m_recordConnections.clear();
    SongRecord *record = nullptr;
    if (m_store && hasKey()) {
        try {
            record = m_store->record(m_key);
        } catch (...) {
            record = nullptr; // a failed lookup shows as no record
        }
    }
    if (record && record->isDeleted())
        record = nullptr;
    m_record = record;
    if (record) {
        m_recordConnections << connect(record, &SongRecord::isFavoriteChanged, this, &SongFavoriteController::refresh);
        // Released by the store: the key may name a successor (a restore re-inserts songs).
        m_recordConnections << connect(record, &QObject::destroyed, this, [this] {
            m_record = nullptr;
            lookUp();
        });
    }
    refresh();
}

void SongFavoriteController::refresh()
{
    const bool favorite = m_record && m_record->isFavorite();
    const bool hadRecord = m_record != nullptr;
    if (favorite == m_isFavorite && hadRecord == m_hadRecord)
        return;
    m_isFavorite = favorite;
    m_hadRecord = hadRecord;
    emit stateChanged();
}

QString SongFavoriteController::accessibleName() const
{
    return m_isFavorite ? QStringLiteral("取消收藏整首歌曲 / Unfavorite this song")
                        : QStringLiteral("收藏整首歌曲 / Favorite this song");
}

QString SongFavoriteController::helpText() const
{
    return m_isFavorite ? QStringLiteral("取消收藏整首歌曲") : QStringLiteral("收藏整首歌曲");
}

void SongFavoriteController::toggle()
{
    if (!m_record || !m_store || m_record->isDeleted())
        return;
    // On the store's background writer; the button follows the record when the write lands, and
    // a failure is announced by the store.
    m_store->requestToggleFavorite(m_record.data());
}
