#pragma once

#include "core/GoldenCard.h"
#include "core/LearnedCardVM.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class LearnedCard;
class SongRecord;

// Plain copies of the stored models, taken on the thread of the context that owns them
// and then free to cross to any thread. A snapshot never writes back and is not updated
// when the store changes. An absent date is an invalid QDateTime.
struct LearnedCardSnapshot
{
    QString en;
    QString cn;
    QString note;
    QString example;
    QString tag;
    std::optional<double> lineTimestamp;
    bool learned = false;
    bool isMastered = false;
    QDateTime masteredAt;
    bool isFavorite = false;
    QDateTime favoritedAt;
    std::optional<PronunciationHint> pronunciationHint;
    std::optional<QString> culturalHint;
    std::optional<ListeningDifficulty> listeningDifficulty;

    // The card identity: en + "|" + tag (the separator is not escaped).
    QString id() const { return en + QLatin1Char('|') + tag; }

    static LearnedCardSnapshot fromCard(LearnedCard &card);
    // The card as the player shows it; `learned` is this snapshot's isMastered.
    LearnedCardVM toViewModel() const;

    friend bool operator==(const LearnedCardSnapshot &, const LearnedCardSnapshot &) = default;
};

struct SongRecordSnapshot
{
    QString key;
    QString title;
    QString artist;
    QString lyrics;
    std::optional<QString> language;
    std::optional<QString> storyArticle;
    std::optional<double> lyricsOffset;
    bool isFavorite = false;
    QDateTime favoritedAt;
    qint64 playCount = 0;
    QDateTime lastPlayedAt;
    // In the order the stored relationship gives them; order matters for equality.
    QList<LearnedCardSnapshot> cards;

    static SongRecordSnapshot fromRecord(SongRecord &record);

    friend bool operator==(const SongRecordSnapshot &, const SongRecordSnapshot &) = default;
};
