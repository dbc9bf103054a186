#include "core/store/StoreRows.h"

namespace StoreRows {
namespace {

const char *const songColumnNames[songFieldCount] = {
    "key", "title", "artist", "lyrics", "language", "story_article", "lyrics_offset", "last_played_at",
    "is_favorite", "favorited_at", "play_count"};
const char *const cardColumnNames[cardFieldCount] = {
    "song_key", "en", "cn", "note", "example", "tag", "line_timestamp", "learned", "song_id", "is_mastered",
    "mastered_at", "is_favorite", "favorited_at", "pronunciation_hint_json", "cultural_hint",
    "listening_difficulty_raw"};

// Points in time are stored as milliseconds since 1970 UTC; an invalid date is NULL.
std::optional<qint64> millis(const QDateTime &t)
{
    if (!t.isValid())
        return std::nullopt;
    return t.toMSecsSinceEpoch();
}

QDateTime dateAt(const SqliteStatement &row, int column)
{
    if (row.isNull(column))
        return {};
    return QDateTime::fromMSecsSinceEpoch(row.int64(column), Qt::UTC);
}

std::string updateSql(const char *table, const char *const *names, int count, quint32 mask)
{
    std::string sql = "UPDATE ";
    sql += table;
    sql += " SET ";
    int index = 0;
    for (int field = 0; field < count; ++field) {
        if (!(mask & (1u << field)))
            continue;
        if (index > 0)
            sql += ", ";
        sql += names[field];
        sql += " = ?" + std::to_string(++index);
    }
    sql += " WHERE id = ?" + std::to_string(index + 1);
    return sql;
}

} // namespace

SongValues readSong(const SqliteStatement &row)
{
    SongValues v;
    v.key = row.text(1);
    v.title = row.text(2);
    v.artist = row.text(3);
    v.lyrics = row.text(4);
    v.language = row.optionalText(5);
    v.storyArticle = row.optionalText(6);
    v.lyricsOffset = row.optionalReal(7);
    v.lastPlayedAt = dateAt(row, 8);
    v.isFavorite = row.boolean(9);
    v.favoritedAt = dateAt(row, 10);
    v.playCount = row.int64(11);
    return v;
}

CardValues readCard(const SqliteStatement &row)
{
    CardValues v;
    v.songKey = row.text(1);
    v.en = row.text(2);
    v.cn = row.text(3);
    v.note = row.text(4);
    v.example = row.text(5);
    v.tag = row.text(6);
    v.lineTimestamp = row.optionalReal(7);
    v.learned = row.boolean(8);
    // column 9 is song_id, read by the caller
    v.isMastered = row.boolean(10);
    v.masteredAt = dateAt(row, 11);
    v.isFavorite = row.boolean(12);
    v.favoritedAt = dateAt(row, 13);
    v.pronunciationHintJSON = row.optionalText(14);
    v.culturalHint = row.optionalText(15);
    v.listeningDifficultyRaw = row.optionalText(16);
    return v;
}

void bindSongField(SqliteStatement &st, int index, const SongValues &v, int field)
{
    switch (field) {
    case SongRecord::Key: st.bind(index, v.key); break;
    case SongRecord::Title: st.bind(index, v.title); break;
    case SongRecord::Artist: st.bind(index, v.artist); break;
    case SongRecord::Lyrics: st.bind(index, v.lyrics); break;
    case SongRecord::Language: st.bind(index, v.language); break;
    case SongRecord::StoryArticle: st.bind(index, v.storyArticle); break;
    case SongRecord::LyricsOffset: st.bind(index, v.lyricsOffset); break;
    case SongRecord::LastPlayedAt: st.bind(index, millis(v.lastPlayedAt).value_or(0)); break;
    case SongRecord::IsFavorite: st.bind(index, v.isFavorite); break;
    case SongRecord::FavoritedAt: st.bind(index, millis(v.favoritedAt)); break;
    case SongRecord::PlayCount: st.bind(index, v.playCount); break;
    }
}

void bindCardField(SqliteStatement &st, int index, const CardValues &v, qint64 songRowId, int field)
{
    switch (field) {
    case LearnedCard::SongKey: st.bind(index, v.songKey); break;
    case LearnedCard::En: st.bind(index, v.en); break;
    case LearnedCard::Cn: st.bind(index, v.cn); break;
    case LearnedCard::Note: st.bind(index, v.note); break;
    case LearnedCard::Example: st.bind(index, v.example); break;
    case LearnedCard::Tag: st.bind(index, v.tag); break;
    case LearnedCard::LineTimestamp: st.bind(index, v.lineTimestamp); break;
    case LearnedCard::Learned: st.bind(index, v.learned); break;
    case LearnedCard::Song:
        if (songRowId > 0)
            st.bind(index, songRowId);
        else
            st.bindNull(index);
        break;
    case LearnedCard::IsMastered: st.bind(index, v.isMastered); break;
    case LearnedCard::MasteredAt: st.bind(index, millis(v.masteredAt)); break;
    case LearnedCard::IsFavorite: st.bind(index, v.isFavorite); break;
    case LearnedCard::FavoritedAt: st.bind(index, millis(v.favoritedAt)); break;
    case LearnedCard::PronunciationHintJSON: st.bind(index, v.pronunciationHintJSON); break;
    case LearnedCard::CulturalHint: st.bind(index, v.culturalHint); break;
    case LearnedCard::ListeningDifficultyRaw: st.bind(index, v.listeningDifficultyRaw); break;
    }
}

std::string songUpdateSql(quint32 mask)
{
    return updateSql("songs", songColumnNames, songFieldCount, mask);
}

std::string cardUpdateSql(quint32 mask)
{
    return updateSql("cards", cardColumnNames, cardFieldCount, mask);
}

} // namespace StoreRows
