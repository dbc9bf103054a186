#pragma once

#include "core/GoldenCard.h"

#include <QList>
#include <QString>

#include <optional>

class LearnedCard;

// A study card as the player screens show it: a plain value that crosses threads.
// Identity (for list diffing) is `id` = en + "|" + tag; equality compares every field.
struct LearnedCardVM
{
    QString id;
    QString en;
    QString cn;
    QString note;
    QString example;
    QString tag;
    std::optional<double> lineTimestamp;
    std::optional<PronunciationHint> pronunciationHint;
    std::optional<QString> culturalHint;
    std::optional<ListeningDifficulty> listeningDifficulty;
    bool learned = false;

    // From a stored card, read on its context's thread; `learned` is the card's `learned`.
    static LearnedCardVM fromCard(const LearnedCard &card);

    // Stable: timed cards first in ascending time (equal times keep their order), then the
    // untimed cards in their incoming order.
    static void sortByLineTimestamp(QList<LearnedCardVM> &cards);
    static QList<LearnedCardVM> sortedByLineTimestamp(QList<LearnedCardVM> cards);
    // The same order over stored cards (read on their context's thread).
    static void sortByLineTimestamp(QList<LearnedCard *> &cards);

    friend bool operator==(const LearnedCardVM &, const LearnedCardVM &) = default;
};
