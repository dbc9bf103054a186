// Reads of the model context: fetches, the identity map, lazy relationships, and merging
// the commits of other contexts.

#include "core/store/ModelContext.h"
#include "core/store/StoreRows.h"

#include "core/AppLog.h"
#include "platform/Text.h"

#include <QMutexLocker>
#include <QSet>

#include <optional>
#include <utility>

using namespace StoreRows;

namespace {
qint64 songIdAt(const SqliteStatement &row, int column = cardSongIdColumn)
{
    return row.isNull(column) ? 0 : row.int64(column);
}

// The sorted lists' row ids in order, answered from their indexes.
constexpr const char *songIdsByLastPlayed = "SELECT id, version FROM songs ORDER BY last_played_at DESC";
constexpr const char *favoriteSongIds =
    "SELECT id, version FROM songs WHERE is_favorite = 1 ORDER BY favorited_at DESC";
constexpr const char *favoriteCardIds =
    "SELECT id, version, song_id FROM cards WHERE is_favorite = 1 ORDER BY favorited_at DESC";
constexpr const char *masteredCardIds =
    "SELECT id, version, song_id FROM cards WHERE is_mastered = 1 ORDER BY mastered_at DESC";
constexpr const char *songById = "SELECT " STORE_SONG_COLUMNS " FROM songs WHERE id = ?1";
} // namespace

SongRecord *ModelContext::materializeSong(const SqliteStatement &row)
{
    const qint64 id = row.int64(0);
    if (SongRecord *song = m_songs.value(id)) {
        if (song->m_state == ModelState::Deleted)
            return nullptr;
        takeSongRow(song, row);
        return song;
    }
    auto *song = new SongRecord(SongRecord::Rehydrate{}, readSong(row));
    adopt(song);
    song->m_rowId = id;
    song->m_version = row.int64(songVersionColumn);
    song->m_state = ModelState::Persisted;
    m_songs.insert(id, song);
    return song;
}

void ModelContext::relinkCard(LearnedCard *card, qint64 songRowId)
{
    if (!(card->m_dirty & (1u << LearnedCard::Song)) && card->m_songRowId != songRowId) {
        card->m_songRowId = songRowId;
        card->linkSong(m_songs.value(songRowId));
    }
}

LearnedCard *ModelContext::materializeCard(const SqliteStatement &row)
{
    const qint64 id = row.int64(0);
    const qint64 songId = songIdAt(row);
    if (LearnedCard *card = m_cards.value(id)) {
        if (card->m_state == ModelState::Deleted)
            return nullptr;
        takeCardRow(card, row);
        relinkCard(card, songId);
        return card;
    }
    auto *card = new LearnedCard(LearnedCard::Rehydrate{}, readCard(row), songId);
    adopt(card);
    card->m_rowId = id;
    card->m_version = row.int64(cardVersionColumn);
    card->m_state = ModelState::Persisted;
    card->m_song = m_songs.value(songId);
    m_cards.insert(id, card);
    return card;
}

SongRecord *ModelContext::fetchSong(const QString &key)
{
    if (inUnitOfWork())
        flush();
    SqliteStatement st = m_db.statement("SELECT " STORE_SONG_COLUMNS " FROM songs WHERE key = ?1 LIMIT 1");
    st.bind(1, key);
    return st.step() ? materializeSong(st) : nullptr;
}

SongRecord *ModelContext::songForRowId(qint64 rowId)
{
    if (SongRecord *song = m_songs.value(rowId))
        return song->m_state == ModelState::Deleted ? nullptr : song;
    if (rowId <= 0)
        return nullptr;
    SqliteStatement st = m_db.statement("SELECT " STORE_SONG_COLUMNS " FROM songs WHERE id = ?1");
    st.bind(1, rowId);
    return st.step() ? materializeSong(st) : nullptr;
}

// A list query in two steps: the ids and versions of the matching rows, in order, from
// an index that holds them; then full rows only for those this context does not hold at
// that version, one by one, or, when that is most of them, the whole list in one query.
// One read transaction, so every step sees the same state of the file.
template<class Model>
QList<Model *> ModelContext::fetchList(const ListQuery &query, const QHash<qint64, Model *> &held,
                                       Model *(ModelContext::*materialize)(const SqliteStatement &))
{
    if (inUnitOfWork())
        flush();
    return read([&] {
        QList<Model *> out;
        const auto readAll = [&] {
            SqliteStatement all = m_db.statement(query.rows);
            while (all.step()) {
                if (Model *object = (this->*materialize)(all))
                    out.append(object);
            }
            return out;
        };
        if (held.isEmpty())
            return readAll();
        std::vector<std::pair<qint64, qint64>> rows;
        qsizetype missing = 0;
        {
            SqliteStatement ids = m_db.statement(query.idsAndVersions);
            while (ids.step()) {
                const qint64 id = ids.int64(0);
                const qint64 version = ids.int64(1);
                const Model *object = held.value(id);
                if (!object || object->m_version != version)
                    ++missing;
                rows.emplace_back(id, version);
            }
        }
        out.reserve(qsizetype(rows.size()));
        if (missing > qsizetype(rows.size()) / 4)
            return readAll();
        SqliteStatement byId = m_db.statement(query.rowById);
        for (const auto &[id, version] : rows) {
            Model *object = held.value(id);
            if (object && object->m_state == ModelState::Deleted)
                continue;
            if (!object || object->m_version != version) {
                byId.reset();
                byId.bind(1, id);
                object = byId.step() ? (this->*materialize)(byId) : nullptr;
            }
            if (object)
                out.append(object);
        }
        return out;
    });
}

QList<SongRecord *> ModelContext::fetchSongs(SongFetch fetch)
{
    switch (fetch) {
    case SongFetch::ByLastPlayedDesc:
        return fetchList({songIdsByLastPlayed, "SELECT " STORE_SONG_COLUMNS " FROM songs ORDER BY last_played_at DESC",
                          songById},
                         m_songs, &ModelContext::materializeSong);
    case SongFetch::FavoritesByFavoritedAtDesc:
        return fetchList({favoriteSongIds,
                          "SELECT " STORE_SONG_COLUMNS " FROM songs WHERE is_favorite = 1 ORDER BY favorited_at DESC",
                          songById},
                         m_songs, &ModelContext::materializeSong);
    case SongFetch::All:
        break;
    }
    if (inUnitOfWork())
        flush();
    SqliteStatement st = m_db.statement("SELECT " STORE_SONG_COLUMNS " FROM songs");
    QList<SongRecord *> out;
    while (st.step()) {
        if (SongRecord *song = materializeSong(st))
            out.append(song);
    }
    return out;
}

LearnedCard *ModelContext::faultCard(qint64 id, qint64 version, qint64 songRowId)
{
    // A fault whose row is found gone is disposed of inside a property read: only a
    // deferred release makes that safe.
    Q_ASSERT(m_disposal == Disposal::Deferred);
    auto *card = new LearnedCard(LearnedCard::Rehydrate{}, CardValues(), songRowId);
    card->m_fault = true;
    adopt(card);
    card->m_rowId = id;
    card->m_version = version;
    card->m_state = ModelState::Persisted;
    card->m_song = m_songs.value(songRowId);
    m_cards.insert(id, card);
    return card;
}

void ModelContext::loadFault(LearnedCard *card) noexcept
{
    try {
        SqliteStatement st = m_db.statement("SELECT " STORE_CARD_COLUMNS " FROM cards WHERE id = ?1");
        st.bind(1, card->m_rowId);
        if (st.step()) {
            takeCardRow(card, st);
            relinkCard(card, songIdAt(st));
            return;
        }
    } catch (const std::exception &error) {
        qCWarning(lcPersistence, "Reading a card failed: %s", error.what());
        return;
    }
    card->m_fault = false;
    forget(card);
}

QList<LearnedCard *> ModelContext::fetchCardList(const char *idsVersionsSongs)
{
    if (inUnitOfWork())
        flush();
    return read([&] {
        QList<LearnedCard *> out;
        std::vector<qsizetype> stale; // positions in `out` of held cards whose row changed
        {
            SqliteStatement ids = m_db.statement(idsVersionsSongs);
            while (ids.step()) {
                const qint64 id = ids.int64(0);
                const qint64 version = ids.int64(1);
                const qint64 songId = songIdAt(ids, 2);
                LearnedCard *card = m_cards.value(id);
                if (!card) {
                    out.append(faultCard(id, version, songId));
                    continue;
                }
                if (card->m_state == ModelState::Deleted)
                    continue;
                if (card->m_version != version) {
                    if (card->m_fault) {
                        // Nothing read yet, so nothing to bring up to date.
                        card->m_version = version;
                        relinkCard(card, songId);
                    } else {
                        stale.push_back(out.size());
                    }
                }
                out.append(card);
            }
        }
        if (stale.empty())
            return out;
        SqliteStatement byId = m_db.statement("SELECT " STORE_CARD_COLUMNS " FROM cards WHERE id = ?1");
        for (qsizetype at : stale) {
            byId.reset();
            byId.bind(1, out[at]->m_rowId);
            // Same read transaction: the row is there. Null marks one that changed under us.
            out[at] = byId.step() ? materializeCard(byId) : nullptr;
        }
        out.removeAll(nullptr);
        return out;
    });
}

QList<LearnedCard *> ModelContext::fetchCards(CardFetch fetch)
{
    switch (fetch) {
    case CardFetch::FavoritesByFavoritedAtDesc:
        return fetchCardList(favoriteCardIds);
    case CardFetch::MasteredByMasteredAtDesc:
        return fetchCardList(masteredCardIds);
    case CardFetch::All:
        break;
    }
    if (inUnitOfWork())
        flush();
    SqliteStatement st = m_db.statement("SELECT " STORE_CARD_COLUMNS " FROM cards");
    QList<LearnedCard *> out;
    while (st.step()) {
        if (LearnedCard *card = materializeCard(st))
            out.append(card);
    }
    return out;
}

ModelContext::SlicedFetch ModelContext::slicedSongFetch(SongFetch fetch)
{
    SlicedFetch sliced;
    sliced.rowIds = fetch == SongFetch::FavoritesByFavoritedAtDesc ? favoriteSongIds : songIdsByLastPlayed;
    sliced.rowById = songById;
    return sliced;
}

ModelContext::SlicedFetch ModelContext::slicedCardFetch(CardFetch fetch)
{
    SlicedFetch sliced;
    sliced.cards = true;
    sliced.rowIds = fetch == CardFetch::FavoritesByFavoritedAtDesc ? favoriteCardIds : masteredCardIds;
    return sliced;
}

bool ModelContext::fetchSlice(SlicedFetch &fetch, std::chrono::nanoseconds budget)
{
    if (inUnitOfWork())
        flush();
    QElapsedTimer clock;
    clock.start();
    if (!fetch.started) {
        read([&] {
            SqliteStatement ids = m_db.statement(fetch.rowIds);
            while (ids.step())
                fetch.rows.push_back({ids.int64(0), ids.int64(1), fetch.cards ? songIdAt(ids, 2) : 0});
        });
        fetch.started = true;
        fetch.out.reserve(qsizetype(fetch.rows.size()));
    }
    constexpr size_t rowsBetweenClockReads = 64;
    read([&] {
        std::optional<SqliteStatement> byId;
        const auto readRow = [&](qint64 id) -> const SqliteStatement * {
            if (!byId)
                byId.emplace(m_db.statement(fetch.cards ? "SELECT " STORE_CARD_COLUMNS " FROM cards WHERE id = ?1"
                                                        : fetch.rowById));
            byId->reset();
            byId->bind(1, id);
            return byId->step() ? &*byId : nullptr; // null: deleted since the ids were read
        };
        for (size_t counted = 0; fetch.next < fetch.rows.size(); ++fetch.next) {
            if (++counted % rowsBetweenClockReads == 0 && clock.nsecsElapsed() >= budget.count())
                break;
            const SlicedFetch::Row &row = fetch.rows[fetch.next];
            StoredModel *object = nullptr;
            if (!fetch.cards) {
                SongRecord *song = m_songs.value(row.id);
                if (song && song->m_version == row.version)
                    object = song->m_state == ModelState::Deleted ? nullptr : song;
                else if (const SqliteStatement *stored = readRow(row.id))
                    object = materializeSong(*stored);
            } else if (LearnedCard *card = m_cards.value(row.id); !card) {
                object = faultCard(row.id, row.version, row.songRowId);
            } else if (card->m_state != ModelState::Deleted) {
                if (card->m_version == row.version) {
                    object = card;
                } else if (card->m_fault) {
                    // Nothing read yet, so nothing to bring up to date.
                    card->m_version = row.version;
                    relinkCard(card, row.songRowId);
                    object = card;
                } else if (const SqliteStatement *stored = readRow(row.id)) {
                    object = materializeCard(*stored);
                }
            }
            if (object)
                fetch.out.append(object);
        }
    });
    return fetch.next == fetch.rows.size();
}

QList<QPointer<StoredModel>> ModelContext::SlicedFetch::take()
{
    // An object released after its row was reached is deleted (or already gone).
    out.removeIf([](const QPointer<StoredModel> &object) { return !object || object->isDeleted(); });
    rows = {};
    return std::exchange(out, {});
}

int ModelContext::countMasteredSongKeys()
{
    if (inUnitOfWork())
        flush();
    // The distinct stored keys come from the index cards_mastered_song_keys alone; keys stored
    // in two canonically equivalent spellings are one song, so they are counted by their NFC form
    // (SQLite compares bytes).
    SqliteStatement st = m_db.statement("SELECT DISTINCT song_key FROM cards WHERE is_mastered = 1");
    QSet<QString> songs;
    while (st.step())
        songs.insert(Text::canonical(st.text(0)));
    return int(songs.size());
}

StoredModel *ModelContext::resolve(const PersistentIdentifier &id)
{
    if (id.isTemporary()) {
        for (StoredModel *object : m_touched) {
            if (object->m_entity == id.entity && object->m_context == this && object->id() == id)
                return object->m_state == ModelState::Deleted ? nullptr : object;
        }
        return nullptr;
    }
    if (inUnitOfWork())
        flush();
    if (id.entity == PersistentIdentifier::Entity::Song)
        return songForRowId(id.value);
    if (LearnedCard *card = m_cards.value(id.value))
        return card->m_state == ModelState::Deleted ? nullptr : card;
    SqliteStatement st = m_db.statement("SELECT " STORE_CARD_COLUMNS " FROM cards WHERE id = ?1");
    st.bind(1, id.value);
    return st.step() ? materializeCard(st) : nullptr;
}

void ModelContext::loadCards(SongRecord *song)
{
    // Set first so that a re-entrant read (a handler of a change announced below) sees the
    // list as it stands instead of loading again.
    song->m_cardsLoaded = true;
    if (song->m_rowId <= 0)
        return;
    try {
        if (inUnitOfWork())
            flush();
        SqliteStatement st =
            m_db.statement("SELECT " STORE_CARD_COLUMNS " FROM cards WHERE song_id = ?1 ORDER BY id");
        st.bind(1, song->m_rowId);
        QList<LearnedCard *> list;
        while (st.step()) {
            LearnedCard *card = materializeCard(st);
            if (card && (!card->m_song || card->m_song == song)) {
                card->linkSong(song);
                list.append(card);
            }
        }
        song->m_cards = list;
    } catch (...) {
        // Not loaded: the next use reads again. Taking the empty list as the song's cards
        // would make an upsert leave the stored cards in place.
        song->m_cardsLoaded = false;
        throw;
    }
}
