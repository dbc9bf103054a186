#pragma once

// Helpers shared by the backup tests.

#include "../store/StoreTestUtil.h"

#include "core/store/CardStore.h"

#include <QCryptographicHash>
#include <QStringList>

#include <sqlite3.h>

// Everything a store file holds that a restore could change: every column of every row in
// row order, the integrity check and the foreign-key check. Equal fingerprints, equal stores.
inline QString fingerprint(const QString &path)
{
    SqliteDatabase db = SqliteDatabase::open(path);
    QStringList lines{db.integrityCheck()};
    for (const char *sql : {"PRAGMA foreign_key_check", "SELECT * FROM songs ORDER BY id", "SELECT * FROM cards ORDER BY id",
                            "SELECT name, seq FROM sqlite_sequence ORDER BY name"}) {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db.handle(), sql, -1, &st, nullptr) != SQLITE_OK)
            return QStringLiteral("unreadable: ") + QString::fromUtf8(sql);
        while (sqlite3_step(st) == SQLITE_ROW) {
            QStringList row;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                row << (sqlite3_column_type(st, c) == SQLITE_NULL
                            ? QStringLiteral("NULL")
                            : QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, c))));
            }
            lines << row.join(QChar(0x1f));
        }
        sqlite3_finalize(st);
        lines << QStringLiteral("--");
    }
    return lines.join(QLatin1Char('\n'));
}

// A small library with state on songs and cards, so that a restore that leaves anything of
// it behind shows.
inline void seedLibrary(CardStore &store)
{
    SongRecord *song = store.upsertSong(QStringLiteral("old|one"), QStringLiteral("One"), QStringLiteral("Old"),
                                        QStringLiteral("[00:01.00]one"), QStringLiteral("en"),
                                        {golden(QStringLiteral("kept"), QStringLiteral("t"), QStringLiteral("留"), 1.0),
                                         golden(QStringLiteral("other"), QStringLiteral("t"))});
    store.markMastered(song->cards().first());
    store.toggleFavorite(song);
    store.upsertSong(QStringLiteral("old|two"), QStringLiteral("Two"), QStringLiteral("Old"), QString(), std::nullopt,
                     {});
    store.recordPlay(QStringLiteral("old|two"), QStringLiteral("Two"), QStringLiteral("Old"));
}

// A document with two songs: one with every optional member, one with none.
inline const QByteArray baseDocument = R"({
 "appBuild": "42", "exportedAt": "2024-05-01T10:00:00Z",
 "namespaces": {"en": {"songs": [
  {"artist": "Ann", "cards": [
    {"cn": "你好", "culturalHint": "a greeting", "en": "hello", "example": "Hello, you.",
     "favoritedAt": "2024-04-01T08:00:00Z", "isFavorite": true, "isMastered": true, "lineTimestamp": 12.5,
     "listeningDifficulty": "hard", "masteredAt": "2024-04-02T08:00:00Z", "note": "n",
     "pronunciationHint": {"ipa": "h\u0259\u02c8l\u0259\u028a", "kind": "linking", "tip": "link it"}, "tag": "greeting"}],
   "favoritedAt": "2024-03-01T00:00:00Z", "isFavorite": true, "key": "ann|hello", "language": "en",
   "lastPlayedAt": "2024-04-30T12:00:00Z", "lyrics": "[00:01.00]hello\/there", "offset": 0.25, "playCount": 7,
   "storyArticle": "A story.", "title": "Hello"},
  {"artist": "Bo", "cards": [
    {"cn": "c", "en": "plain", "example": "e", "isFavorite": false, "isMastered": false, "note": "n", "tag": "t"}],
   "isFavorite": false, "key": "bo|min", "lastPlayedAt": "2024-01-01T00:00:00Z", "lyrics": "",
   "playCount": 0, "title": "Min"}
 ]}}
})";

// The base document with one piece of text replaced (the piece must be there).
inline QByteArray withReplaced(const QByteArray &from, const QByteArray &to, const QByteArray &document = baseDocument)
{
    Q_ASSERT_X(document.contains(from), "withReplaced", from.constData());
    QByteArray changed = document;
    changed.replace(document.indexOf(from), from.size(), to);
    return changed;
}

// The library in one line per song, most recently played first: key, title, plays, last
// played (s), favourite, then each card as en/tag with m(astered), l(earned), f(avourite).
inline QString describeLibrary(CardStore &store)
{
    QStringList songs;
    for (SongRecord *song : store.allSongs()) {
        QStringList cards;
        for (LearnedCard *card : song->cards()) {
            cards << card->en() + QLatin1Char('/') + card->tag() + QLatin1Char(':')
                    + (card->isMastered() ? QStringLiteral("m") : QString())
                    + (card->learned() ? QStringLiteral("l") : QString())
                    + (card->isFavorite() ? QStringLiteral("f") : QString());
        }
        songs << QStringLiteral("%1 %2 %3 %4%5 [%6]")
                     .arg(song->key(), song->title())
                     .arg(song->playCount())
                     .arg(song->lastPlayedAt().toSecsSinceEpoch())
                     .arg(song->isFavorite() ? QStringLiteral(" fav") : QString(), cards.join(QLatin1Char(' ')));
    }
    return songs.join(QStringLiteral("; "));
}

// A document of `songs` songs ("song 0" … in the order given, most recently played first),
// each with `cardsPerSong` cards and `lyricsBytes` bytes of lyrics.
inline QByteArray generatedDocument(int songs, int cardsPerSong, int lyricsBytes = 100)
{
    QByteArray out = R"({"appBuild": "1", "exportedAt": "2024-05-01T10:00:00Z", "namespaces": {"en": {"songs": [)";
    const QByteArray lyrics(lyricsBytes, 'l');
    for (int s = 0; s < songs; ++s) {
        if (s > 0)
            out += ",\n";
        const QByteArray n = QByteArray::number(s);
        out += R"({"artist": "Artist", "cards": [)";
        for (int c = 0; c < cardsPerSong; ++c) {
            if (c > 0)
                out += ", ";
            out += R"({"cn": "中文", "en": "phrase )" + QByteArray::number(c)
                + R"(", "example": "e", "isFavorite": false, "isMastered": true, "note": "n", "tag": "t"})";
        }
        out += R"(], "isFavorite": false, "key": "song )" + n + R"(", "lastPlayedAt": ")"
            + QDateTime::fromSecsSinceEpoch(1'700'000'000 - s, Qt::UTC).toString(Qt::ISODate).toLatin1()
            + R"(", "lyrics": ")" + lyrics + R"(", "playCount": 1, "title": "Title )" + n + "\"}";
    }
    return out + "]}}}";
}
