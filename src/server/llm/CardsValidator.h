#pragma once

#include "core/GoldenCard.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <string>

namespace server {

// Checks a model's cards answer against the lyrics it was written for, and keeps the cards a
// learner can use. The answer must be one JSON object {"cards": [...]}; a Markdown code fence
// around the whole object (```json … ```), which models add even when told not to, is taken
// off first. Prose around the object is refused.
//
// A card is kept when the project's card decoder reads it and
// - its phrase occurs in the lyrics: compared in canonical composition (NFC), case-folded, with
//   every run of white space as one space, lines joined by a space;
// - its lineTimestamp is the time of one of the lyric lines (within half a hundredth of a
//   second: LRC times are hundredths). Lyrics without any time stamp give cards without a time;
// - no earlier card has the same en and tag.
// At most 30 cards are kept, in the model's order.
class CardsValidator
{
public:
    static constexpr int maxCards = 30;

    explicit CardsValidator(const QString &lrcText);

    struct Outcome
    {
        QList<GoldenCard> cards;
        QStringList complaints; // one line per dropped card or refused answer, for logs and repair
    };
    Outcome validate(const std::string &answer) const;

    // The allowed line times for the prompt: "6.4, 14.3, 22.1" (or a note that there are none).
    std::string lineTimesText() const;

private:
    QString checkCard(const GoldenCard &card) const;

    QString m_matchText;
    QList<double> m_times; // sorted, distinct
};

// The answer without a Markdown code fence around all of it; other text unchanged.
std::string withoutCodeFence(const std::string &answer);

} // namespace server
