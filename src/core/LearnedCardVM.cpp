#include "core/LearnedCardVM.h"

#include "core/store/LearnedCard.h"

#include <algorithm>

LearnedCardVM LearnedCardVM::fromCard(LearnedCard &card)
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
    std::stable_sort(cards.begin(), cards.end(), [](const LearnedCardVM &a, const LearnedCardVM &b) {
        if (!a.lineTimestamp)
            return false;
        if (!b.lineTimestamp)
            return true;
        return *a.lineTimestamp < *b.lineTimestamp;
    });
}

QList<LearnedCardVM> LearnedCardVM::sortedByLineTimestamp(QList<LearnedCardVM> cards)
{
    sortByLineTimestamp(cards);
    return cards;
}
