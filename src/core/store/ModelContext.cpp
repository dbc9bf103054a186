#include "core/store/ModelContext.h"

#include "core/AppLog.h"
#include "core/store/StoreRows.h"

#include <QMutexLocker>
#include <QTimer>

#include <algorithm>

using namespace StoreRows;

ModelContext::ModelContext(std::shared_ptr<StoreContainer> container, Disposal disposal,
                           bool receiveExternalChanges, StoreContainer::CommitSync commitSync)
    : m_container(std::move(container))
    , m_db(m_container->connect(commitSync))
    , m_commitSync(commitSync)
    , m_disposal(disposal)
{
    if (receiveExternalChanges) {
        m_listenerId = m_container->addListener([this](const QSet<QString> &keys) {
            // The notifier runs under the lock, so once setExternalChangeNotifier({})
            // has returned it is never called again.
            QMutexLocker lock(&m_inboxMutex);
            m_inbox.unite(keys);
            if (m_notifier)
                m_notifier();
        });
    } else {
        // Still an identity for publishing, so that other contexts hear of our commits.
        m_listenerId = m_container->addListener({});
    }
}

ModelContext::~ModelContext()
{
    m_container->removeListener(m_listenerId);
    // Unsaved changes die with the context; the connection rolls back anything open.
    m_levels.clear();
    m_songs.clear();
    m_cards.clear();
    // m_owner deletes every object.
}

void ModelContext::setExternalChangeNotifier(std::function<void()> notifier)
{
    QMutexLocker lock(&m_inboxMutex);
    m_notifier = std::move(notifier);
}

// ---- journal ------------------------------------------------------------------------

void ModelContext::noteChange(StoredModel *object)
{
    const quint64 serial = m_levels.empty() ? m_serial : m_levels.back().serial;
    if (object->m_touchSerial != serial) {
        object->m_touchSerial = serial;
        m_touched.push_back(object);
    }
    if (!object->m_pending) {
        object->m_pending = true;
        m_pending.push_back(object);
    }
}

bool ModelContext::hasChanges() const
{
    return !m_pending.empty();
}

void ModelContext::adopt(StoredModel *object)
{
    // Spread over many parents: releasing an object searches its parent's list of children, and
    // one list of a whole library's objects would make releasing them all quadratic.
    if (m_buckets.size() < ownerBuckets) {
        m_buckets.push_back(new QObject(&m_owner));
        object->setParent(m_buckets.back());
    } else {
        object->setParent(m_buckets[m_nextBucket++ % ownerBuckets]);
    }
    object->m_context = this;
}

void ModelContext::insert(SongRecord *song)
{
    if (song->m_context == this && song->m_state != ModelState::New)
        return;
    Q_ASSERT_X(!song->m_context, "ModelContext::insert", "the song belongs to another context");
    adopt(song);
    noteChange(song);
    song->m_state = ModelState::Inserted;
    for (LearnedCard *card : std::as_const(song->m_cards)) {
        if (card->m_state == ModelState::New)
            insert(card);
    }
}

void ModelContext::insert(LearnedCard *card)
{
    if (card->m_context == this && card->m_state != ModelState::New)
        return;
    Q_ASSERT_X(!card->m_context, "ModelContext::insert", "the card belongs to another context");
    adopt(card);
    noteChange(card);
    card->m_state = ModelState::Inserted;
    if (card->m_song && card->m_song->m_state == ModelState::New)
        insert(card->m_song);
}

void ModelContext::remove(SongRecord *song)
{
    remove(QList<SongRecord *>{song});
}

void ModelContext::remove(const QList<SongRecord *> &songs)
{
    // Cards held here, by the song they belong to: one pass however many songs go.
    QMultiHash<SongRecord *, LearnedCard *> cardsBySong;
    QMultiHash<qint64, LearnedCard *> cardsBySongRow;
    for (LearnedCard *card : std::as_const(m_cards)) {
        if (card->m_song)
            cardsBySong.insert(card->m_song, card);
        else if (card->m_songRowId > 0)
            cardsBySongRow.insert(card->m_songRowId, card);
    }
    for (SongRecord *song : songs) {
        if (song->m_context != this || song->m_state == ModelState::Deleted)
            continue;
        noteChange(song);
        song->m_state = ModelState::Deleted;
        // The store deletes the rows by cascade; here the objects this context holds go too.
        QList<LearnedCard *> cascade = song->m_cards;
        cascade += cardsBySong.values(song);
        if (song->m_rowId > 0)
            cascade += cardsBySongRow.values(song->m_rowId);
        for (LearnedCard *card : std::as_const(cascade)) {
            if (card->m_context == this && card->m_state != ModelState::Deleted) {
                noteChange(card);
                card->m_state = ModelState::Deleted;
            }
        }
    }
}

void ModelContext::remove(LearnedCard *card)
{
    if (card->m_context != this || card->m_state == ModelState::Deleted)
        return;
    noteChange(card);
    SongRecord *song = card->m_song ? card->m_song : m_songs.value(card->m_songRowId);
    if (song)
        song->detachCard(card);
    card->m_state = ModelState::Deleted;
}

// ---- units of work ------------------------------------------------------------------

ModelContext::Unit::Unit(ModelContext &context, SqliteTransaction::Mode mode)
    : m_context(context)
{
    m_context.beginLevel(mode);
}

ModelContext::Unit::~Unit()
{
    if (!m_done)
        m_context.rollbackLevel();
}

void ModelContext::Unit::commit()
{
    m_context.commitLevel();
    m_done = true;
}

void ModelContext::beginLevel(SqliteTransaction::Mode mode)
{
    if (m_levels.empty()) {
        // A unit that cannot even start (the file stays locked past the busy timeout, the
        // refresh below fails) fails like any other: the unsaved changes it would have
        // written are discarded, so no later save writes them behind the caller's back.
        const auto discardUnsaved = [this] {
            rollbackJournal(0);
            m_changedKeys.clear();
            m_serial = m_nextSerial++;
        };
        std::unique_ptr<SqliteTransaction> txn;
        try {
            txn = std::make_unique<SqliteTransaction>(m_db, mode);
        } catch (...) {
            discardUnsaved();
            throw;
        }
        m_levels.push_back(Level{0, m_nextSerial++, std::move(txn)});
        // Holding the write lock, take in what the other connections committed before it,
        // so this unit starts from their writes.
        try {
            mergeSlice(std::chrono::nanoseconds::max());
        } catch (...) {
            // Not refreshed: the keys stay queued for the next merge.
            m_levels.pop_back();
            discardUnsaved();
            throw;
        }
        return;
    }
    // Everything before the savepoint is written first, so rolling back to it restores
    // exactly the state the objects had when the unit began.
    flush();
    auto txn = std::make_unique<SqliteTransaction>(m_db, mode);
    m_levels.push_back(Level{m_touched.size(), m_nextSerial++, std::move(txn)});
}

void ModelContext::commitLevel()
{
    flush();
    m_levels.back().txn->commit();
    const bool top = m_levels.size() == 1;
    m_levels.pop_back();
    if (top)
        finishTopLevelCommit();
}

void ModelContext::rollbackLevel() noexcept
{
    if (m_levels.empty())
        return;
    Level level = std::move(m_levels.back());
    m_levels.pop_back();
    level.txn->rollback();
    const bool top = m_levels.empty();
    // At the outermost level every unsaved change of the context goes, including
    // property writes made before the unit began.
    rollbackJournal(top ? 0 : level.mark);
    if (top) {
        m_changedKeys.clear();
        m_serial = m_nextSerial++;
    }
}

void ModelContext::save()
{
    if (m_levels.empty() && m_pending.empty())
        return;
    perform([] {});
}

void ModelContext::finishTopLevelCommit() noexcept
{
    std::vector<StoredModel *> touched;
    touched.swap(m_touched);
    m_serial = m_nextSerial++;
    QSet<StoredModel *> unique(touched.begin(), touched.end());
    for (StoredModel *object : std::as_const(unique)) {
        if (object->m_state == ModelState::Deleted && object->m_context == this)
            dispose(object);
    }
    if (m_commitSync == StoreContainer::CommitSync::InBackground)
        m_container->syncLogInBackground();
    const QSet<QString> keys = std::exchange(m_changedKeys, {});
    m_container->publishCommit(m_listenerId, keys);
}

void ModelContext::dispose(StoredModel *object)
{
    if (object->m_rowId > 0) {
        if (object->m_entity == PersistentIdentifier::Entity::Song)
            m_songs.remove(object->m_rowId);
        else
            m_cards.remove(object->m_rowId);
    }
    object->m_context = nullptr;
    object->m_pending = false;
    if (m_observer.released)
        m_observer.released(object);
    if (m_disposal == Disposal::Immediate) {
        delete object;
        return;
    }
    // Released with deleteLater(), at most a few thousand in one turn of the event loop: a
    // restore releases a whole library's objects, and deleting them all in one turn would hold
    // the window up. The rest wait for later turns.
    if (m_releasedThisTurn < releasedPerTurn && m_released.empty()) {
        object->deleteLater();
        if (m_releasedThisTurn++ == 0)
            QTimer::singleShot(0, &m_owner, [this] { releaseNextTurn(); });
    } else {
        m_released.push_back(object);
    }
}

void ModelContext::releaseNextTurn()
{
    const size_t count = std::min(m_released.size(), releasedPerTurn);
    for (size_t i = 0; i < count; ++i)
        m_released[i]->deleteLater();
    m_released.erase(m_released.begin(), m_released.begin() + qsizetype(count));
    m_releasedThisTurn = count;
    if (count > 0)
        QTimer::singleShot(0, &m_owner, [this] { releaseNextTurn(); });
}

// ---- flush --------------------------------------------------------------------------

namespace {
// Runs an UPDATE ... RETURNING version. The object holds the row as stored only if the
// row was at the version it knew; otherwise another connection wrote in between, and
// the object is marked for reading again.
qint64 nextVersion(qint64 known, SqliteStatement &update)
{
    if (!update.step())
        return -1;
    const qint64 stored = update.int64(0);
    update.reset();
    return (known >= 0 && stored == known + 1) ? stored : -1;
}
} // namespace

void ModelContext::flush()
{
    if (m_pending.empty())
        return;
    std::vector<StoredModel *> pending;
    pending.swap(m_pending);
    // Order: card deletes, song deletes, song writes, card writes, so that a card's
    // song row exists before the card row that references it.
    std::vector<SongRecord *> songs;
    std::vector<LearnedCard *> cards;
    for (StoredModel *object : pending) {
        if (object->m_entity == PersistentIdentifier::Entity::Song)
            songs.push_back(static_cast<SongRecord *>(object));
        else
            cards.push_back(static_cast<LearnedCard *>(object));
    }
    for (LearnedCard *card : cards) {
        if (card->m_state == ModelState::Deleted && card->m_rowId > 0) {
            SqliteStatement st = m_db.statement("DELETE FROM cards WHERE id = ?1");
            st.bind(1, card->m_rowId).run();
            m_changedKeys.insert(songKeyOf(card));
        }
    }
    for (SongRecord *song : songs) {
        if (song->m_state == ModelState::Deleted && song->m_rowId > 0) {
            SqliteStatement st = m_db.statement("DELETE FROM songs WHERE id = ?1");
            st.bind(1, song->m_rowId).run();
            m_changedKeys.insert(song->m_v.key);
        }
    }
    for (SongRecord *song : songs)
        flushSong(song);
    for (LearnedCard *card : cards)
        flushCard(card);
    for (StoredModel *object : pending)
        object->m_pending = false;
}

void ModelContext::flushSong(SongRecord *song)
{
    if (song->m_state == ModelState::Inserted) {
        SqliteStatement st = m_db.statement(
            "INSERT INTO songs (key, title, artist, lyrics, language, story_article, lyrics_offset, "
            "last_played_at, is_favorite, favorited_at, play_count) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, "
            "?10, ?11)");
        for (int field = 0; field < songFieldCount; ++field)
            bindSongField(st, field + 1, song->m_v, field);
        st.run();
        song->m_rowId = m_db.lastInsertRowId();
        song->m_version = 0;
        song->m_state = ModelState::Persisted;
        song->m_dirty = 0;
        m_songs.insert(song->m_rowId, song);
        m_changedKeys.insert(song->m_v.key);
        emit song->persistentIdChanged();
    } else if (song->m_state == ModelState::Persisted && song->m_dirty) {
        const std::string sql = songUpdateSql(song->m_dirty);
        SqliteStatement st = m_db.statement(sql.c_str());
        int index = 0;
        for (int field = 0; field < songFieldCount; ++field) {
            if (song->m_dirty & (1u << field))
                bindSongField(st, ++index, song->m_v, field);
        }
        st.bind(index + 1, song->m_rowId);
        song->m_version = nextVersion(song->m_version, st);
        song->m_dirty = 0;
        m_changedKeys.insert(song->m_v.key);
    }
}

void ModelContext::flushCard(LearnedCard *card)
{
    const qint64 songRowId = card->m_song ? card->m_song->m_rowId : card->m_songRowId;
    if (card->m_state == ModelState::Inserted) {
        SqliteStatement st = m_db.statement(
            "INSERT INTO cards (song_key, en, cn, note, example, tag, line_timestamp, learned, song_id, "
            "is_mastered, mastered_at, is_favorite, favorited_at, pronunciation_hint_json, cultural_hint, "
            "listening_difficulty_raw) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, "
            "?16)");
        for (int field = 0; field < cardFieldCount; ++field)
            bindCardField(st, field + 1, card->m_v, songRowId, field);
        st.run();
        card->m_rowId = m_db.lastInsertRowId();
        card->m_version = 0;
        card->m_songRowId = songRowId;
        card->m_state = ModelState::Persisted;
        card->m_dirty = 0;
        m_cards.insert(card->m_rowId, card);
        m_changedKeys.insert(songKeyOf(card));
        emit card->persistentIdChanged();
    } else if (card->m_state == ModelState::Persisted && card->m_dirty) {
        const std::string sql = cardUpdateSql(card->m_dirty);
        SqliteStatement st = m_db.statement(sql.c_str());
        int index = 0;
        for (int field = 0; field < cardFieldCount; ++field) {
            if (card->m_dirty & (1u << field))
                bindCardField(st, ++index, card->m_v, songRowId, field);
        }
        st.bind(index + 1, card->m_rowId);
        card->m_version = nextVersion(card->m_version, st);
        card->m_songRowId = songRowId;
        card->m_dirty = 0;
        m_changedKeys.insert(songKeyOf(card));
    }
}

QString ModelContext::songKeyOf(LearnedCard *card) const
{
    if (card->m_song)
        return card->m_song->m_v.key;
    if (SongRecord *song = m_songs.value(card->m_songRowId))
        return song->m_v.key;
    return card->fields().songKey;
}

// ---- rollback -----------------------------------------------------------------------

void ModelContext::rollbackJournal(size_t mark) noexcept
{
    for (StoredModel *object : m_pending)
        object->m_pending = false;
    m_pending.clear();
    if (mark >= m_touched.size())
        return;
    std::vector<StoredModel *> objects(m_touched.begin() + qsizetype(mark), m_touched.end());
    m_touched.resize(mark);
    QSet<StoredModel *> seen;
    std::vector<StoredModel *> songs;
    std::vector<StoredModel *> cards;
    for (StoredModel *object : objects) {
        if (seen.contains(object))
            continue;
        seen.insert(object);
        object->m_touchSerial = 0;
        // A flush that failed part-way has already taken these off m_pending.
        object->m_pending = false;
        (object->m_entity == PersistentIdentifier::Entity::Song ? songs : cards).push_back(object);
    }
    // Songs first, so that revived cards find their songs.
    for (auto *list : {&songs, &cards}) {
        for (StoredModel *object : *list) {
            try {
                restoreFromStore(object);
            } catch (const std::exception &e) {
                // The row could not be read back: drop the object's unsaved state at least.
                qCWarning(lcPersistence) << "Could not reload a model after a rollback:" << e.what();
                object->m_dirty = 0;
            }
        }
    }
}

void ModelContext::restoreFromStore(StoredModel *object)
{
    const bool isSong = object->m_entity == PersistentIdentifier::Entity::Song;
    if (object->m_rowId <= 0) {
        detach(object);
        return;
    }
    SqliteStatement st = isSong ? m_db.statement("SELECT " STORE_SONG_COLUMNS " FROM songs WHERE id = ?1")
                                : m_db.statement("SELECT " STORE_CARD_COLUMNS " FROM cards WHERE id = ?1");
    st.bind(1, object->m_rowId);
    if (!st.step()) {
        detach(object);
        return;
    }
    object->m_dirty = 0;
    object->m_state = ModelState::Persisted;
    if (isSong) {
        auto *song = static_cast<SongRecord *>(object);
        takeSongRow(song, st);
        m_songs.insert(song->m_rowId, song);
        // The list is read again on next use.
        if (song->m_cardsLoaded) {
            song->m_cardsLoaded = false;
            song->m_cards.clear();
            emit song->cardsChanged();
        }
    } else {
        auto *card = static_cast<LearnedCard *>(object);
        takeCardRow(card, st);
        card->m_songRowId = st.isNull(cardSongIdColumn) ? 0 : st.int64(cardSongIdColumn);
        card->linkSong(m_songs.value(card->m_songRowId));
        m_cards.insert(card->m_rowId, card);
    }
}

void ModelContext::detach(StoredModel *object)
{
    if (object->m_rowId > 0) {
        if (object->m_entity == PersistentIdentifier::Entity::Song)
            m_songs.remove(object->m_rowId);
        else
            m_cards.remove(object->m_rowId);
    }
    if (object->m_entity == PersistentIdentifier::Entity::Card) {
        auto *card = static_cast<LearnedCard *>(object);
        if (SongRecord *song = card->m_song; song && song->m_cardsLoaded && song->m_cards.removeOne(card))
            emit song->cardsChanged();
    }
    const bool hadRow = object->m_rowId > 0;
    object->m_rowId = 0;
    object->m_dirty = 0;
    object->m_state = ModelState::New;
    object->m_context = nullptr; // stays owned by this context until it goes
    if (hadRow)
        emit object->persistentIdChanged();
}

void ModelContext::reset()
{
    Q_ASSERT(m_levels.empty());
    for (StoredModel *object : m_pending)
        object->m_pending = false;
    m_pending.clear();
    m_touched.clear();
    m_songs.clear();
    m_cards.clear();
    m_released.clear(); // deleted below with the others
    for (QObject *bucket : m_buckets) {
        const QList<QObject *> children = bucket->children();
        for (QObject *child : children) {
            auto *object = static_cast<StoredModel *>(child);
            object->m_context = nullptr;
            if (m_observer.released)
                m_observer.released(object);
            delete object;
        }
    }
}
