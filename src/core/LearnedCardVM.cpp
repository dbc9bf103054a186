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

namespace {

// Timed items first in ascending time (a stable sort: equal times keep their order), then the
// untimed ones in their incoming order. A NaN time sorts like no time (last): with NaN compared
// as a number the order would not be a strict weak ordering and the sort's result would depend
// on the input order.
template<class T, class TimeOf>
void stableSortByLineTime(QList<T> &items, TimeOf timeOf)
{
    const auto timed = [&timeOf](const T &item) {
        const std::optional<double> t = timeOf(item);
        return t && !std::isnan(*t);
    };
    std::stable_sort(items.begin(), items.end(), [&](const T &a, const T &b) {
        if (!timed(a))
            return false;
        if (!timed(b))
            return true;
        return *timeOf(a) < *timeOf(b);
    });
}

} // namespace

void LearnedCardVM::sortByLineTimestamp(QList<LearnedCardVM> &cards)
{
    stableSortByLineTime(cards, [](const LearnedCardVM &card) { return card.lineTimestamp; });
}

void LearnedCardVM::sortByLineTimestamp(QList<LearnedCard *> &cards)
{
    stableSortByLineTime(cards, [](const LearnedCard *card) { return card->lineTimestamp(); });
}

QList<LearnedCardVM> LearnedCardVM::sortedByLineTimestamp(QList<LearnedCardVM> cards)
{
    sortByLineTimestamp(cards);
    return cards;
}
