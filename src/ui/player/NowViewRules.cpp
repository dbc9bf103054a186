#include "NowViewRules.h"

#include "core/store/LearnedCard.h"
#include "core/store/SongRecord.h"

#include <QHashFunctions>

#include <cmath>

namespace NowViewRules {

size_t cardsHash(const QList<LearnedCard *> &cards)
{
    QtPrivate::QHashCombine combine;
    size_t seed = 0;
    for (const LearnedCard *card : cards) {
        seed = combine(seed, card->en());
        seed = combine(seed, card->tag());
        const std::optional<double> t = card->lineTimestamp();
        seed = combine(seed, t.has_value());
        if (t)
            seed = combine(seed, *t == 0.0 ? 0.0 : *t);
        seed = combine(seed, card->isMastered());
    }
    return seed;
}

size_t masteredSignature(const QList<LearnedCard *> &cards)
{
    QtPrivate::QHashCombine combine;
    size_t seed = 0;
    for (const LearnedCard *card : cards) {
        seed = combine(seed, card->id());
        seed = combine(seed, card->isMastered());
    }
    return seed;
}

QHash<QString, LearnedCard *> cardsById(const QList<LearnedCard *> &cards)
{
    QHash<QString, LearnedCard *> byId;
    byId.reserve(cards.size());
    for (LearnedCard *card : cards)
        if (!byId.contains(card->cardId()))
            byId.insert(card->cardId(), card);
    return byId;
}

LearnedCard *nextTimedCard(const QList<LearnedCard *> &cards, double t)
{
    for (LearnedCard *card : cards) {
        const std::optional<double> line = card->lineTimestamp();
        if (line && *line > t)
            return card;
    }
    return nullptr;
}

double preflightProgress(std::optional<double> lineTime, double t)
{
    if (!lineTime)
        return 0;
    const double d = *lineTime - t;
    return d > 0 && d < 2.0 ? 1.0 - d / 2.0 : 0.0;
}

QList<LearnedCard *> liveCards(SongRecord *record)
{
    QList<LearnedCard *> cards;
    if (!record || record->isDeleted())
        return cards;
    for (LearnedCard *card : record->cards()) {
        if (card && !card->isDeleted())
            cards.append(card);
    }
    return cards;
}

} // namespace NowViewRules
