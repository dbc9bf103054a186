#include "core/store/LibraryRows.h"

namespace {

std::optional<QUtf8StringView> optionalView(const SqliteStatement &row, int column)
{
    if (row.isNull(column))
        return std::nullopt;
    return row.textView(column);
}

} // namespace

// Songs in the order of CardStore::allSongs(); a song's cards by row id, the order they were
// stored in.
LibraryRowCursor::LibraryRowCursor(SqliteDatabase &db)
    : m_songs(db.statement("SELECT id, key, title, artist, lyrics, language, story_article, lyrics_offset, "
                           "last_played_at, is_favorite, favorited_at, play_count FROM songs "
                           "ORDER BY last_played_at DESC"))
    , m_cards(db.statement("SELECT en, cn, note, example, tag, line_timestamp, is_mastered, mastered_at, "
                           "is_favorite, favorited_at, pronunciation_hint_json, cultural_hint, "
                           "listening_difficulty_raw FROM cards WHERE song_id = ?1 ORDER BY id"))
{
}

bool LibraryRowCursor::nextSong()
{
    m_cards.reset();
    if (!m_songs.step())
        return false;
    const SqliteStatement &row = m_songs;
    m_songId = row.int64(0);
    m_song.key = row.textView(1);
    m_song.title = row.textView(2);
    m_song.artist = row.textView(3);
    m_song.lyrics = row.textView(4);
    m_song.language = optionalView(row, 5);
    m_song.storyArticle = optionalView(row, 6);
    m_song.lyricsOffset = row.optionalReal(7);
    m_song.lastPlayedAt = row.int64(8);
    m_song.isFavorite = row.boolean(9);
    m_song.favoritedAt = row.optionalInt64(10);
    m_song.playCount = row.int64(11);
    m_cards.bind(1, m_songId);
    return true;
}

bool LibraryRowCursor::nextCard()
{
    if (!m_cards.step())
        return false;
    const SqliteStatement &row = m_cards;
    m_card.en = row.textView(0);
    m_card.cn = row.textView(1);
    m_card.note = row.textView(2);
    m_card.example = row.textView(3);
    m_card.tag = row.textView(4);
    m_card.lineTimestamp = row.optionalReal(5);
    m_card.isMastered = row.boolean(6);
    m_card.masteredAt = row.optionalInt64(7);
    m_card.isFavorite = row.boolean(8);
    m_card.favoritedAt = row.optionalInt64(9);
    m_card.pronunciationHintJSON = optionalView(row, 10);
    m_card.culturalHint = optionalView(row, 11);
    m_card.listeningDifficultyRaw = optionalView(row, 12);
    return true;
}
