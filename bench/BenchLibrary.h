#pragma once

// The benchmarks' library: 10,000 songs with 10 cards each, every card with a pronunciation
// hint and a listening difficulty; every card of one song in ten mastered; one song in ten a
// favourite, with two favourite cards.

#include "core/store/CardStore.h"

#include <QDateTime>
#include <QList>

namespace BenchLibrary {

constexpr int songCount = 10'000;
constexpr int cardsPerSong = 10;

inline QString keyOf(int i)
{
    return QStringLiteral("artist %1|song %1").arg(i);
}

inline QList<GoldenCard> cardsFor(int song, int count)
{
    QList<GoldenCard> cards;
    for (int c = 0; c < count; ++c) {
        GoldenCard card;
        card.en = QStringLiteral("phrase %1 of song %2").arg(c).arg(song);
        card.cn = QStringLiteral("短语 %1").arg(c);
        card.note = QStringLiteral("A note that explains the phrase in a sentence or two.");
        card.example = QStringLiteral("An example sentence that uses the phrase.");
        card.tag = c % 2 ? QStringLiteral("idiom") : QStringLiteral("phrase");
        card.lineTimestamp = 10.0 * c;
        card.pronunciationHint = PronunciationHint{PronunciationKind::linking, QStringLiteral("link the words"),
                                                   std::nullopt};
        card.listeningDifficulty = ListeningDifficulty::medium;
        cards.append(card);
    }
    return cards;
}

// Fills the store at `container` with the library; every song gets `lyrics`.
inline void fill(const std::shared_ptr<StoreContainer> &container, const QString &lyrics)
{
    CardStore store(container);
    constexpr int batch = 500;
    for (int first = 0; first < songCount; first += batch) {
        store.transaction([&] {
            for (int i = first; i < first + batch; ++i) {
                SongRecord *song = store.upsertSong(keyOf(i), QStringLiteral("Song %1").arg(i),
                                                    QStringLiteral("Artist %1").arg(i), lyrics, QStringLiteral("en"),
                                                    cardsFor(i, cardsPerSong));
                const QDateTime at = QDateTime::fromSecsSinceEpoch(1'700'000'000 + i, Qt::UTC);
                song->setLastPlayedAt(at);
                if (i % 10 == 0) {
                    for (LearnedCard *card : song->cards()) {
                        card->setIsMastered(true);
                        card->setMasteredAt(at);
                    }
                }
                if (i % 10 == 5) {
                    song->setIsFavorite(true);
                    song->setFavoritedAt(at);
                    for (LearnedCard *card : song->cards().mid(0, 2)) {
                        card->setIsFavorite(true);
                        card->setFavoritedAt(at);
                    }
                }
            }
        });
        store.context().reset(); // keep the builder's memory flat
    }
}

} // namespace BenchLibrary
