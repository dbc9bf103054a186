#include "core/LearnedCardVM.h"

#include <cmath>

#include "core/store/LearnedCard.h"

#include <algorithm>

LearnedCardVM LearnedCardVM::fromCard(const LearnedCard &card)
{
    LearnedCardVM vm;
    vm.id = card.cardId();
    vm.en = card.en();
    vm.cn = card.cn();
    vm.note = card.note();
    vm.example = card.example();
    vm.tag = card.tag();
    vm.lineTimestamp = card.lineTimestamp();
    vm.pronunciationHint = card.pronunciationHint();
    vm.culturalHint = card.culturalHint();
    vm.listeningDifficulty = card.listeningDifficulty();
    vm.learned = card.learned();
    return vm;
}

void LearnedCardVM::sortByLineTimestamp(QList<LearnedCardVM> &cards)
{
    // A NaN time sorts like no time (last): with NaN compared as a number the order would not
    // be a strict weak ordering and the sort's result would depend on the input order.
    const auto timed = [](const LearnedCardVM &card) {
        return card.lineTimestamp && !std::isnan(*card.lineTimestamp);
    };
    std::stable_sort(cards.begin(), cards.end(), [&timed](const LearnedCardVM &a, const LearnedCardVM &b) {
        if (!timed(a))
            return false;
        if (!timed(b))
            return true;
        return *a.lineTimestamp < *b.lineTimestamp;
    });
}

QList<LearnedCardVM> LearnedCardVM::sortedByLineTimestamp(QList<LearnedCardVM> cards)
{
    sortByLineTimestamp(cards);
    return cards;
}
