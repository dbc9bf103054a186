// Writing the whole library at once (a backup restore): rows go in and out directly, with
// prepared statements and without model objects, inside the caller's unit of work.

#include "core/store/ModelContext.h"

#include "core/store/SongOperations.h"

namespace {

void bindText(SqliteStatement &st, int index, const std::optional<QByteArray> &text)
{
    if (text)
        st.bindUtf8(index, *text);
    else
        st.bindNull(index);
}

class LibraryReplacement final : public LibraryWriter
{
public:
    explicit LibraryReplacement(ModelContext &context)
        : m_context(context)
    {
    }

    void clear() override
    {
        m_context.removeAllRows();
        m_written.clear();
    }

    void write(LibrarySongRow &&song) override
    {
        // A key written before: the later song replaces it whole, cards included.
        if (m_written.contains(song.key))
            m_context.removeRows(song.key);
        else
            m_written.insert(song.key);
        song.cards = SongOperations::lastOfEachIdentity(std::move(song.cards));
        m_context.insertRows(song);
    }

private:
    ModelContext &m_context;
    QSet<QByteArray> m_written;
};

} // namespace

void ModelContext::replaceAllRows(const LibrarySource &source)
{
    LibraryReplacement replacement(*this);
    replacement.clear();
    source(replacement);
}

void ModelContext::noteDeletedRow(StoredModel *object)
{
    if (object->m_context != this || object->m_state != ModelState::Persisted)
        return;
    // In the journal, so that a rollback reads the object back and a commit releases it; not
    // pending, because its row is deleted with the others.
    const quint64 serial = m_levels.back().serial;
    if (object->m_touchSerial != serial) {
        object->m_touchSerial = serial;
        m_touched.push_back(object);
    }
    object->m_state = ModelState::Deleted;
}

void ModelContext::removeAllRows()
{
    Q_ASSERT(inUnitOfWork());
    // Pending changes first: none of them may be written after the rows are gone.
    flush();
    {
        SqliteStatement keys = m_db.statement("SELECT key FROM songs");
        while (keys.step())
            m_changedKeys.insert(keys.text(0));
    }
    for (SongRecord *song : std::as_const(m_songs))
        noteDeletedRow(song);
    for (LearnedCard *card : std::as_const(m_cards))
        noteDeletedRow(card);
    m_db.statement("DELETE FROM cards").run();
    m_db.statement("DELETE FROM songs").run();
}

void ModelContext::removeRows(QByteArrayView key)
{
    Q_ASSERT(inUnitOfWork());
    flush();
    SqliteStatement find = m_db.statement("SELECT id FROM songs WHERE key = ?1");
    find.bindUtf8(1, key);
    if (!find.step())
        return;
    const qint64 songId = find.int64(0);
    find.reset();
    if (SongRecord *song = m_songs.value(songId))
        noteDeletedRow(song);
    for (LearnedCard *card : std::as_const(m_cards)) {
        if (card->m_songRowId == songId)
            noteDeletedRow(card);
    }
    m_db.statement("DELETE FROM songs WHERE id = ?1").bind(1, songId).run(); // its cards by cascade
    m_changedKeys.insert(QString::fromUtf8(key));
}

void ModelContext::insertRows(const LibrarySongRow &song)
{
    Q_ASSERT(inUnitOfWork());
    SqliteStatement songInsert = m_db.statement(
        "INSERT INTO songs (key, title, artist, lyrics, language, story_article, lyrics_offset, last_played_at, "
        "is_favorite, favorited_at, play_count) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
    songInsert.bindUtf8(1, song.key).bindUtf8(2, song.title).bindUtf8(3, song.artist).bindUtf8(4, song.lyrics);
    bindText(songInsert, 5, song.language);
    bindText(songInsert, 6, song.storyArticle);
    songInsert.bind(7, song.lyricsOffset).bind(8, song.lastPlayedAt).bind(9, song.isFavorite);
    songInsert.bind(10, song.favoritedAt).bind(11, song.playCount);
    songInsert.run();
    const qint64 songId = m_db.lastInsertRowId();
    m_changedKeys.insert(QString::fromUtf8(song.key));
    if (song.cards.empty())
        return;

    SqliteStatement cardInsert = m_db.statement(
        "INSERT INTO cards (song_key, en, cn, note, example, tag, line_timestamp, learned, song_id, is_mastered, "
        "mastered_at, is_favorite, favorited_at, pronunciation_hint_json, cultural_hint, "
        "listening_difficulty_raw) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?8, ?10, ?11, ?12, ?13, ?14, ?15)");
    cardInsert.bindUtf8(1, song.key).bind(9, songId);
    for (const LibraryCardRow &card : song.cards) {
        cardInsert.bindUtf8(2, card.en).bindUtf8(3, card.cn).bindUtf8(4, card.note).bindUtf8(5, card.example);
        cardInsert.bindUtf8(6, card.tag).bind(7, card.lineTimestamp).bind(8, card.isMastered);
        cardInsert.bind(10, card.masteredAt).bind(11, card.isFavorite).bind(12, card.favoritedAt);
        bindText(cardInsert, 13, card.pronunciationHintJSON);
        bindText(cardInsert, 14, card.culturalHint);
        bindText(cardInsert, 15, card.listeningDifficultyRaw);
        cardInsert.run();
    }
}
