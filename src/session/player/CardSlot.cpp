#include "session/player/CardSlot.h"

#include "core/LearnedCardVM.h"
#include "core/store/LearnedCard.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <string>

namespace CardSlotExpander {

namespace {

// Card ids compare as canonical (NFC) text by Unicode scalar values, so that "é" written as one
// code point or as "e" plus a combining accent sorts the same, and characters outside the BMP
// sort after U+E000…U+FFFF (UTF-16 code-unit order would put them before).
std::u32string sortKey(const QString &cardId)
{
    const QList<uint> ucs4 = cardId.normalized(QString::NormalizationForm_C).toUcs4();
    return std::u32string(ucs4.begin(), ucs4.end());
}

struct Keyed
{
    CardSlot slot;
    std::u32string key;
};

// A strict total order: every slot has a distinct card id, and NaN never reaches here (it was
// turned into "no time" first), so the sort result does not depend on the algorithm.
bool comesBefore(const Keyed &a, const Keyed &b)
{
    const auto &ta = a.slot.lineTimestamp;
    const auto &tb = b.slot.lineTimestamp;
    if (ta.has_value() != tb.has_value())
        return ta.has_value();
    if (ta && *ta != *tb)
        return *ta < *tb;
    if (a.key != b.key)
        return a.key < b.key;
    // Canonically equivalent ids that differ in code points: still a total order.
    return a.slot.cardId < b.slot.cardId;
}

std::optional<double> usableTime(std::optional<double> time)
{
    if (!time || std::isnan(*time) || *time < 0.0)
        return std::nullopt;
    return time;
}

} // namespace

QList<CardSlot> expand(const QList<Entry> &entries)
{
    QSet<QString> seen;
    seen.reserve(entries.size());
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(entries.size()));
    for (const Entry &entry : entries) {
        if (seen.contains(entry.cardId))
            continue;
        seen.insert(entry.cardId);
        CardSlot slot;
        slot.slotId = entry.cardId + QStringLiteral("#1/1");
        slot.cardId = entry.cardId;
        slot.lineTimestamp = usableTime(entry.lineTimestamp);
        keyed.push_back(Keyed{std::move(slot), sortKey(entry.cardId)});
    }
    std::sort(keyed.begin(), keyed.end(), comesBefore);

    QList<CardSlot> slotList;
    slotList.reserve(qsizetype(keyed.size()));
    for (Keyed &k : keyed)
        slotList.append(std::move(k.slot));
    return slotList;
}

QList<CardSlot> expand(const QList<LearnedCard *> &cards)
{
    QList<Entry> entries;
    entries.reserve(cards.size());
    for (const LearnedCard *card : cards)
        entries.append(Entry{card->cardId(), card->lineTimestamp()});
    return expand(entries);
}

QList<CardSlot> expand(const QList<LearnedCardVM> &cardVMs)
{
    QList<Entry> entries;
    entries.reserve(cardVMs.size());
    for (const LearnedCardVM &card : cardVMs)
        entries.append(Entry{card.id, card.lineTimestamp});
    return expand(entries);
}

std::optional<QString> activeSlotId(const QList<CardSlot> &slotList, double t)
{
    if (std::isnan(t))
        return std::nullopt;
    const CardSlot *match = nullptr;
    for (const CardSlot &slot : slotList) {
        if (slot.lineTimestamp && *slot.lineTimestamp <= t)
            match = &slot;
    }
    if (!match)
        return std::nullopt;
    return match->slotId;
}

} // namespace CardSlotExpander
