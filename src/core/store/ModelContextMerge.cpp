// Taking in the commits of other contexts: the objects of the songs they wrote are read again,
// objects whose rows are gone are forgotten.
//
// The work is linear in the number of changed songs: one pass over the held objects builds
// indexes of them (by song key, by song row), and each changed key then costs two indexed reads.
// All of it, the indexing included, can be done in slices (mergeExternalChangesFor), so that the
// window's thread takes in a whole replaced library without a long pause.

#include "core/store/ModelContext.h"
#include "core/store/StoreRows.h"

#include <QElapsedTimer>
#include <QMutexLocker>

using namespace StoreRows;

bool ModelContext::hasExternalChangesPending()
{
    if (m_merge)
        return true;
    QMutexLocker lock(&m_inboxMutex);
    return !m_inbox.isEmpty();
}

void ModelContext::abandonExternalChanges()
{
    m_merge.reset();
    QMutexLocker lock(&m_inboxMutex);
    m_inbox.clear();
}

bool ModelContext::startMergeJob()
{
    QSet<QString> keys;
    {
        QMutexLocker lock(&m_inboxMutex);
        keys.swap(m_inbox);
    }
    if (keys.isEmpty())
        return false;
    auto job = std::make_unique<MergeJob>();
    job->incoming.assign(keys.cbegin(), keys.cend());
    job->indexed = job->incoming.size() >= mergeIndexFrom;
    if (job->indexed) {
        const QList<qint64> songs = m_songs.keys();
        const QList<qint64> cards = m_cards.keys();
        job->songsToIndex.assign(songs.cbegin(), songs.cend());
        job->cardsToIndex.assign(cards.cbegin(), cards.cend());
        job->songRowsByKey.reserve(songs.size());
        job->cardRowsBySongRow.reserve(cards.size());
    }
    m_merge = std::move(job);
    return true;
}

bool ModelContext::prepareMergeJob(const QElapsedTimer &clock, std::chrono::nanoseconds budget)
{
    MergeJob &job = *m_merge;
    qsizetype steps = 0;
    const auto spent = [&] { return ++steps % 64 == 0 && clock.nsecsElapsed() >= budget.count(); };
    while (!job.songsToIndex.empty()) {
        const qint64 row = job.songsToIndex.back();
        job.songsToIndex.pop_back();
        if (SongRecord *song = m_songs.value(row); song && song->m_state == ModelState::Persisted)
            job.songRowsByKey.insert(song->m_v.key, row);
        if (spent())
            return false;
    }
    while (!job.cardsToIndex.empty()) {
        const qint64 row = job.cardsToIndex.back();
        job.cardsToIndex.pop_back();
        if (LearnedCard *card = m_cards.value(row)) {
            const qint64 songRow = card->m_song ? card->m_song->m_rowId : card->m_songRowId;
            if (songRow > 0)
                job.cardRowsBySongRow.insert(songRow, row);
        }
        if (spent())
            return false;
    }
    while (!job.incoming.empty()) {
        QString key = std::move(job.incoming.back());
        job.incoming.pop_back();
        const bool held = job.indexed ? job.songRowsByKey.contains(key) : !heldSongsWithKey(key).isEmpty();
        (held ? job.heldKeys : job.keys).push_back(std::move(key));
        if (spent())
            return false;
    }
    job.keys.insert(job.keys.end(), std::make_move_iterator(job.heldKeys.begin()),
                    std::make_move_iterator(job.heldKeys.end()));
    job.heldKeys.clear();
    return true;
}

bool ModelContext::mergeExternalChangesFor(std::chrono::nanoseconds budget)
{
    if (inUnitOfWork())
        return !hasExternalChangesPending(); // taken in once the unit has ended
    return mergeSlice(budget);
}

bool ModelContext::mergeSlice(std::chrono::nanoseconds budget)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (!m_merge && !startMergeJob())
            return true;
        if (!prepareMergeJob(clock, budget))
            return false;
        while (!m_merge->keys.empty()) {
            // Taken off only once read: a failed read leaves the key for the next merge.
            refreshSongKey(m_merge->keys.back());
            if (m_merge->indexed)
                m_merge->songRowsByKey.remove(m_merge->keys.back());
            m_mergedKeys.insert(m_merge->keys.back());
            m_merge->keys.pop_back();
            if (clock.nsecsElapsed() >= budget.count() && !m_merge->keys.empty())
                return false;
        }
        m_merge.reset();
    }
}

QSet<QString> ModelContext::mergeExternalChanges()
{
    mergeExternalChangesFor(std::chrono::nanoseconds::max());
    return takeMergedKeys();
}

QSet<QString> ModelContext::takeMergedKeys()
{
    return std::exchange(m_mergedKeys, {});
}

void ModelContext::refreshSongKey(const QString &key)
{
    SqliteStatement st = m_db.statement("SELECT " STORE_SONG_COLUMNS " FROM songs WHERE key = ?1 LIMIT 1");
    st.bind(1, key);
    const bool found = st.step();
    const qint64 rowId = found ? st.int64(0) : 0;

    // Songs held under this key whose row is gone (or was replaced by a new row).
    QList<SongRecord *> gone;
    for (SongRecord *song : heldSongsWithKey(key)) {
        if (song->m_rowId != rowId)
            gone.append(song);
    }
    for (SongRecord *song : std::as_const(gone))
        forget(song);
    m_merge->forgottenSongs += gone.size();
    if (!found)
        return;
    SongRecord *song = m_songs.value(rowId);
    if (song && song->m_state != ModelState::Deleted) {
        takeSongRow(song, st);
    } else if (!song && m_merge->replacementSongs < m_merge->forgottenSongs) {
        // A batch that took away held songs (a restore replaced the library) reads new ones in
        // their place, as many as it took away: the lists that held the old ones fetch again
        // once the batch is announced, and then find these held, in this batch's slices instead
        // of one long fetch.
        materializeSong(st);
        ++m_merge->replacementSongs;
        song = nullptr;
    } else {
        song = nullptr;
    }
    st.reset();
    refreshCardsOfSong(rowId, song);
}

QList<SongRecord *> ModelContext::heldSongsWithKey(const QString &key) const
{
    QList<SongRecord *> songs;
    const auto matches = [&key](const SongRecord *song) {
        return song->m_v.key == key && song->m_state == ModelState::Persisted;
    };
    if (m_merge && m_merge->indexed) {
        for (qint64 row : m_merge->songRowsByKey.values(key)) {
            if (SongRecord *song = m_songs.value(row); song && matches(song))
                songs.append(song);
        }
    } else {
        for (SongRecord *song : std::as_const(m_songs)) {
            if (matches(song))
                songs.append(song);
        }
    }
    return songs;
}

QList<LearnedCard *> ModelContext::heldCardsOfSongRow(qint64 songRowId) const
{
    QList<LearnedCard *> cards;
    const auto cardOfSong = [songRowId](const LearnedCard *card) {
        return (card->m_song ? card->m_song->m_rowId : card->m_songRowId) == songRowId;
    };
    if (m_merge && m_merge->indexed) {
        for (qint64 row : m_merge->cardRowsBySongRow.values(songRowId)) {
            if (LearnedCard *card = m_cards.value(row); card && cardOfSong(card))
                cards.append(card);
        }
    } else {
        for (LearnedCard *card : std::as_const(m_cards)) {
            if (cardOfSong(card))
                cards.append(card);
        }
    }
    return cards;
}

void ModelContext::refreshCardsOfSong(qint64 songRowId, SongRecord *song)
{
    const bool rebuildList = song && song->m_cardsLoaded;
    SqliteStatement st = m_db.statement("SELECT " STORE_CARD_COLUMNS " FROM cards WHERE song_id = ?1 ORDER BY id");
    st.bind(1, songRowId);
    QSet<qint64> present;
    QList<LearnedCard *> list;
    while (st.step()) {
        const qint64 id = st.int64(0);
        present.insert(id);
        LearnedCard *card = rebuildList ? materializeCard(st) : nullptr;
        if (!rebuildList) {
            if (LearnedCard *held = m_cards.value(id); held && held->m_state != ModelState::Deleted)
                card = materializeCard(st);
        }
        if (card && rebuildList && (!card->m_song || card->m_song == song)) {
            card->linkSong(song);
            list.append(card);
        }
    }
    st.reset();

    if (rebuildList) {
        // Cards of this song not saved yet stay in its list.
        for (LearnedCard *card : std::as_const(song->m_cards)) {
            if (card->m_state == ModelState::Inserted)
                list.append(card);
        }
        if (list != song->m_cards) {
            song->m_cards = list;
            emit song->cardsChanged();
        }
    }

    QList<LearnedCard *> gone;
    for (LearnedCard *card : heldCardsOfSongRow(songRowId)) {
        if (card->m_songRowId == songRowId && card->m_state == ModelState::Persisted && !present.contains(card->m_rowId))
            gone.append(card);
    }
    for (LearnedCard *card : std::as_const(gone))
        forget(card);
    if (m_merge && m_merge->indexed)
        m_merge->cardRowsBySongRow.remove(songRowId);
}

void ModelContext::forget(StoredModel *object)
{
    if (object->m_context != this)
        return;
    if (object->m_entity == PersistentIdentifier::Entity::Song) {
        auto *song = static_cast<SongRecord *>(object);
        // Its loaded cards first: forgetting one may release it at once, and the lookup by row
        // below only finds cards still held.
        for (LearnedCard *card : QList<LearnedCard *>(song->m_cards)) {
            if (card->m_song == song && card->m_rowId > 0)
                forget(card);
        }
        if (song->m_rowId > 0) {
            for (LearnedCard *card : heldCardsOfSongRow(song->m_rowId))
                forget(card);
            if (m_merge && m_merge->indexed)
                m_merge->cardRowsBySongRow.remove(song->m_rowId);
        }
    } else {
        auto *card = static_cast<LearnedCard *>(object);
        if (SongRecord *song = card->m_song; song && song->m_cardsLoaded && song->m_cards.removeOne(card))
            emit song->cardsChanged();
    }
    if (object->m_pending)
        std::erase(m_pending, object);
    std::erase(m_touched, object);
    object->m_dirty = 0;
    object->m_state = ModelState::Deleted;
    dispose(object);
}
