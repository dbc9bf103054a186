#pragma once

// The whole library as plain stored values, for moving it into and out of the store in one
// piece (the backup) without making model objects. Texts are UTF-8 as the file stores them;
// points in time are milliseconds since 1970 UTC. A card carries neither its song link nor
// its songKey (both follow from the enclosing song) nor `learned`: a card written this way is
// learned exactly when it is mastered.

#include "platform/SqliteDatabase.h"

#include <QByteArray>
#include <QUtf8StringView>

#include <functional>
#include <optional>
#include <vector>

template<class Text>
struct LibraryCard
{
    Text en;
    Text cn;
    Text note;
    Text example;
    Text tag;
    std::optional<double> lineTimestamp;
    bool isMastered = false;
    std::optional<qint64> masteredAt;
    bool isFavorite = false;
    std::optional<qint64> favoritedAt;
    std::optional<Text> pronunciationHintJSON;
    std::optional<Text> culturalHint;
    std::optional<Text> listeningDifficultyRaw;
};

template<class Text>
struct LibrarySong
{
    Text key;
    Text title;
    Text artist;
    Text lyrics;
    std::optional<Text> language;
    std::optional<Text> storyArticle;
    std::optional<double> lyricsOffset;
    qint64 lastPlayedAt = 0;
    bool isFavorite = false;
    std::optional<qint64> favoritedAt;
    qint64 playCount = 0;
};

// Rows to be written: they own their bytes.
using LibraryCardRow = LibraryCard<QByteArray>;
struct LibrarySongRow : LibrarySong<QByteArray>
{
    std::vector<LibraryCardRow> cards;
};

// Rows as read: views into the store's current row, valid until the cursor moves on.
using LibraryCardView = LibraryCard<QUtf8StringView>;
using LibrarySongView = LibrarySong<QUtf8StringView>;

// A library read song by song, each song's cards one by one.
class LibraryRowSource
{
public:
    virtual ~LibraryRowSource() = default;
    // Moves to the next song; false after the last. The song's cards start over.
    virtual bool nextSong() = 0;
    virtual const LibrarySongView &song() const = 0;
    // Moves to the next card of the current song; false after its last.
    virtual bool nextCard() = 0;
    virtual const LibraryCardView &card() const = 0;
};

// Walks the stored library: songs in the order of CardStore::allSongs() (last played,
// newest first), each song's cards in the order they were stored. Runs inside the read
// transaction its owner opened, so every row comes from one state of the file.
class LibraryRowCursor final : public LibraryRowSource
{
public:
    explicit LibraryRowCursor(SqliteDatabase &db);

    bool nextSong() override;
    const LibrarySongView &song() const override { return m_song; }
    bool nextCard() override;
    const LibraryCardView &card() const override { return m_card; }

private:
    SqliteStatement m_songs;
    SqliteStatement m_cards;
    qint64 m_songId = 0;
    LibrarySongView m_song;
    LibraryCardView m_card;
};

// Where a library replacement writes (CardStore::replaceLibrary).
class LibraryWriter
{
public:
    virtual ~LibraryWriter() = default;
    // Forgets every song written so far: the library is empty again.
    virtual void clear() = 0;
    // Stores one song with its cards. A song whose key was written before replaces that one
    // whole; cards that repeat an (en, tag) pair keep the last one (SongOperations'
    // de-duplication rule), each with its own state.
    virtual void write(LibrarySongRow &&song) = 0;
};

// Produces the new library into the writer; whatever it throws undoes the replacement.
using LibrarySource = std::function<void(LibraryWriter &)>;
