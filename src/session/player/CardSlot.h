#pragma once

#include <QList>
#include <QString>

#include <optional>

class LearnedCard;
struct LearnedCardVM;

// One row of the card list: one distinct card of the song, placed by its lyric line's time.
struct CardSlot
{
    // The numbers of a repeat badge ("n of total").
    struct RepeatLabel
    {
        int n = 0;
        int total = 0;
        friend bool operator==(const RepeatLabel &, const RepeatLabel &) = default;
    };

    // The row's identity in the list: the card id followed by "#1/1".
    QString slotId;
    // en + "|" + tag.
    QString cardId;
    // Seconds into the song; never NaN or negative (such times are stored as absent).
    std::optional<double> lineTimestamp;
    // The expander never sets it.
    std::optional<RepeatLabel> repeatLabel;

    friend bool operator==(const CardSlot &, const CardSlot &) = default;
};

// Lays a song's cards out as slots and finds the slot of a playback position. Pure functions;
// callable from any thread.
namespace CardSlotExpander {

// A card as the expander sees it: its identity and its line time.
struct Entry
{
    QString cardId;
    std::optional<double> lineTimestamp;
};

// One slot per distinct card id (the first occurrence wins, with its time), sorted: timed slots
// first by time, then untimed ones; ties between equal times, and the untimed slots, by card id
// (canonically equivalent text compares equal, otherwise by Unicode scalar values).
QList<CardSlot> expand(const QList<Entry> &entries);
// The same over stored cards (read on their store's thread) and over view-side cards.
QList<CardSlot> expand(const QList<LearnedCard *> &cards);
QList<CardSlot> expand(const QList<LearnedCardVM> &cardVMs);

// The slot id of the last slot in list order whose time is present and not after t (no
// tolerance); none when t is NaN or no slot qualifies. One pass; allocates nothing.
std::optional<QString> activeSlotId(const QList<CardSlot> &slotList, double t);

} // namespace CardSlotExpander
