#pragma once

// Row layout of the two tables, shared by the context's reads and writes. Internal to
// the store.

#include "core/store/LearnedCard.h"
#include "core/store/SongRecord.h"
#include "platform/SqliteDatabase.h"

#include <string>

namespace StoreRows {

// Column lists in field order, row id first; Field N is column N + 1.
#define STORE_SONG_COLUMNS                                                                                         \
    "id, key, title, artist, lyrics, language, story_article, lyrics_offset, last_played_at, is_favorite, "      \
    "favorited_at, play_count"
#define STORE_CARD_COLUMNS                                                                                         \
    "id, song_key, en, cn, note, example, tag, line_timestamp, learned, song_id, is_mastered, mastered_at, "    \
    "is_favorite, favorited_at, pronunciation_hint_json, cultural_hint, listening_difficulty_raw"

inline constexpr int songFieldCount = 11;
inline constexpr int cardFieldCount = 16;
inline constexpr int cardSongIdColumn = LearnedCard::Song + 1;

SongValues readSong(const SqliteStatement &row);
CardValues readCard(const SqliteStatement &row);

void bindSongField(SqliteStatement &st, int index, const SongValues &v, int field);
// `songRowId` is bound for the Song field.
void bindCardField(SqliteStatement &st, int index, const CardValues &v, qint64 songRowId, int field);

// "UPDATE <table> SET c1=?1, c2=?2 WHERE id=?N" for the fields in `mask`.
std::string songUpdateSql(quint32 mask);
std::string cardUpdateSql(quint32 mask);

} // namespace StoreRows
