#include "core/store/SongOperations.h"

#include "core/store/ModelContext.h"

#include <QSet>

#include <algorithm>
#include <cmath>

namespace SongOperations {

QList<GoldenCard> deduplicated(const QList<GoldenCard> &cards)
{
    return lastOfEachIdentity(cards);
}

SongRecord *upsertSong(ModelContext &context, const QString &key, const QString &title, const QString &artist,
                       const QString &lyrics, const std::optional<QString> &language, const QList<GoldenCard> &cards,
                       const QDateTime &now)
{
    const QList<GoldenCard> unique = deduplicated(cards);
    SongRecord *song = context.fetchSong(key);
    if (!song) {
        song = new SongRecord(key, title, artist, lyrics, {}, now);
        song->setLanguage(language);
        context.insert(song);
    } else {
        song->setTitle(title);
        song->setArtist(artist);
        song->setLyrics(lyrics);
        song->setLanguage(language);
        const QList<LearnedCard *> old = song->cards();
        for (LearnedCard *card : old)
            context.remove(card);
        song->setCards({});
    }
    for (const GoldenCard &golden : unique) {
        LearnedCard *card = LearnedCard::fromGoldenCard(golden, song);
        context.insert(card);
    }
    return song;
}

bool retimeCards(SongRecord &song, const QHash<QString, std::optional<double>> &timestamps)
{
    bool changed = false;
    const QList<LearnedCard *> cards = song.cards();
    for (LearnedCard *card : cards) {
        const auto it = timestamps.constFind(card->cardId());
        if (it == timestamps.constEnd())
            continue;
        if (card->lineTimestamp() != *it) {
            card->setLineTimestamp(*it);
            changed = true;
        }
    }
    return changed;
}

double roundLyricsOffset(double value)
{
    const double steps = value >= 2.0 ? 40.0 : std::max(value, -2.0) / 0.05;
    return std::round(steps) * 0.05;
}

void migrateStudyPanel(ModelContext &context, const QDateTime &now)
{
    for (LearnedCard *card : context.fetchCards(ModelContext::CardFetch::All)) {
        if (card->learned() && !card->isMastered()) {
            card->setIsMastered(true);
            if (!card->masteredAt().isValid())
                card->setMasteredAt(now);
        }
    }
    for (SongRecord *song : context.fetchSongs(ModelContext::SongFetch::All)) {
        if (song->playCount() == 0)
            song->setPlayCount(1);
    }
}

} // namespace SongOperations
