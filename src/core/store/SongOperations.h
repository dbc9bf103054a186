#pragma once

#include "core/GoldenCard.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <algorithm>
#include <optional>
#include <utility>

class ModelContext;
class SongRecord;

// The algorithms both stores share. Each runs inside the caller's unit of work.
namespace SongOperations {

// One card per (en, tag), compared exactly; the last occurrence wins and the kept cards
// stay in the order of their last occurrences (A, B, A' gives B, A').
QList<GoldenCard> deduplicated(const QList<GoldenCard> &cards);

// The same rule for any list of cards with `en` and `tag` members.
template<class Cards>
Cards lastOfEachIdentity(Cards cards)
{
    if (cards.size() < 2)
        return cards;
    using Text = std::remove_cvref_t<decltype(cards.begin()->en)>;
    QSet<std::pair<Text, Text>> seen;
    seen.reserve(qsizetype(cards.size()));
    Cards kept;
    kept.reserve(cards.size());
    for (auto it = cards.rbegin(); it != cards.rend(); ++it) {
        if (seen.contains({it->en, it->tag}))
            continue;
        seen.insert({it->en, it->tag});
        kept.push_back(std::move(*it));
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

// Creates the song or updates its title, artist, lyrics and language, then replaces its
// cards wholesale with fresh ones (not learned, mastered or favourite) made from the
// de-duplicated golden cards. Play count, last-played time, favourite state, story and
// offset of an existing song are left alone; a new song starts with play count 0.
SongRecord *upsertSong(ModelContext &context, const QString &key, const QString &title, const QString &artist,
                       const QString &lyrics, const std::optional<QString> &language, const QList<GoldenCard> &cards,
                       const QDateTime &now);

// Sets the line time of every card whose identity is in the map and whose time differs.
// Returns whether any card changed.
bool retimeCards(SongRecord &song, const QHash<QString, std::optional<double>> &timestamps);

// The study panel's one-time migration: learned-but-unmastered cards become mastered
// (keeping a stored masteredAt, else `now`), songs with no plays get one.
void migrateStudyPanel(ModelContext &context, const QDateTime &now);

// Per-song offset: clamped to [-2, 2] s, on a grid of 0.05 s, halves away from zero. The
// arithmetic is exactly steps = value / 0.05 (40 at or above 2.0), round, steps * 0.05,
// so 3 steps give 0.15000000000000002.
double roundLyricsOffset(double value);

} // namespace SongOperations
