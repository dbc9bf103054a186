#pragma once

#include <QtGlobal>

#include <optional>

// Which card belongs to a moment of the song: a card whose line started at most 5 s before t,
// or up to 1 ms after it (timer jitter). Of those, the latest-timed; among equal times the first
// in list order. A comparison with NaN fails, so a NaN time or a NaN t never qualifies.
namespace CardLightingRule {

inline constexpr double startSlack = 0.001;
inline constexpr double window = 5.0;

inline bool qualifies(double t, double lineTimestamp)
{
    return t + startSlack >= lineTimestamp && t - lineTimestamp <= window;
}

// The index of the chosen item, or -1. `timeOf(item)` gives an optional<double>.
template<class Range, class TimeOf>
qsizetype pick(const Range &items, double t, TimeOf timeOf)
{
    qsizetype chosen = -1;
    double chosenTime = 0.0;
    qsizetype index = 0;
    for (const auto &item : items) {
        const std::optional<double> ts = timeOf(item);
        if (ts && qualifies(t, *ts) && (chosen < 0 || *ts > chosenTime)) {
            chosen = index;
            chosenTime = *ts;
        }
        ++index;
    }
    return chosen;
}

} // namespace CardLightingRule
