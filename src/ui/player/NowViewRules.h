#pragma once

#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>

#include <optional>

class LearnedCard;
class SongRecord;

// The pure rules of the Now card list: hashes that tell when the list must be rebuilt, the
// card lookup by id, the upcoming card and its preflight bar.
namespace NowViewRules {

// Over each card in order: en, tag, line time (absent and present told apart, -0 as 0) and the
// mastered flag. Favourites and other edits leave it unchanged. Stable within one run only.
size_t cardsHash(const QList<LearnedCard *> &cards);
// Over each card in order: its identity and its mastered flag.
size_t masteredSignature(const QList<LearnedCard *> &cards);
// en + "|" + tag → card; of two cards with one id the first in list order is kept.
QHash<QString, LearnedCard *> cardsById(const QList<LearnedCard *> &cards);
// The first card in list order whose line time is set and later than t.
LearnedCard *nextTimedCard(const QList<LearnedCard *> &cards, double t);
// 1 − d/2 for 0 < d < 2 where d = lineTime − t: the bar fills over the two seconds before the
// line; 0 otherwise and without a time.
double preflightProgress(std::optional<double> lineTime, double t);
// The record's live cards (a card deleted in the store but not yet freed is left out).
QList<LearnedCard *> liveCards(SongRecord *record);

} // namespace NowViewRules

// The slot cache's key: the shown record's song key and the hash of its cards.
struct SlotCacheKey
{
    QString recordId;
    size_t cardsHash = 0;
    friend bool operator==(const SlotCacheKey &, const SlotCacheKey &) = default;
};

// What the song-restart check saw last (the scroll bookkeeping lives in the user-scroll guard).
struct CardRuntimeState
{
    double lastRestartElapsed = 0;
    quint64 lastRestartSessionId = 0;
    std::optional<QString> lastRestartSongKey;
};
