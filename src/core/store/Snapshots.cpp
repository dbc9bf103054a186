#include "core/store/Snapshots.h"

#include "core/store/LearnedCard.h"
#include "core/store/SongRecord.h"

LearnedCardSnapshot LearnedCardSnapshot::fromCard(LearnedCard &card)
{
    LearnedCardSnapshot s;
    s.en = card.en();
    s.cn = card.cn();
    s.note = card.note();
    s.example = card.example();
    s.tag = card.tag();
    s.lineTimestamp = card.lineTimestamp();
    s.learned = card.learned();
    s.isMastered = card.isMastered();
    s.masteredAt = card.masteredAt();
    s.isFavorite = card.isFavorite();
    s.favoritedAt = card.favoritedAt();
    s.pronunciationHint = card.pronunciationHint();
    s.culturalHint = card.culturalHint();
    s.listeningDifficulty = card.listeningDifficulty();
    return s;
}

LearnedCardVM LearnedCardSnapshot::toViewModel() const
{
    LearnedCardVM vm;
    vm.id = id();
    vm.en = en;
    vm.cn = cn;
    vm.note = note;
    vm.example = example;
    vm.tag = tag;
    vm.lineTimestamp = lineTimestamp;
    vm.pronunciationHint = pronunciationHint;
    vm.culturalHint = culturalHint;
    vm.listeningDifficulty = listeningDifficulty;
    vm.learned = isMastered;
    return vm;
}

SongRecordSnapshot SongRecordSnapshot::fromRecord(SongRecord &record)
{
    SongRecordSnapshot s;
    s.key = record.key();
    s.title = record.title();
    s.artist = record.artist();
    s.lyrics = record.lyrics();
    s.language = record.language();
    s.storyArticle = record.storyArticle();
    s.lyricsOffset = record.lyricsOffset();
    s.isFavorite = record.isFavorite();
    s.favoritedAt = record.favoritedAt();
    s.playCount = record.playCount();
    s.lastPlayedAt = record.lastPlayedAt();
    const QList<LearnedCard *> cards = record.cards();
    s.cards.reserve(cards.size());
    for (LearnedCard *card : cards)
        s.cards.append(LearnedCardSnapshot::fromCard(*card));
    return s;
}
