#pragma once

#include "core/Lyrics.h"
#include "session/player/CardLightingRule.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <optional>
#include <utility>

// Where a playback time falls among a song's time-sorted lines, how many words of a line it
// reveals, and which timed item it lights. Pure functions of the lines; the view model applies
// them to the playing song's lines.
namespace LyricLineTiming {

// The last line, with no next line to end it, lasts this long for the word reveal.
inline constexpr double lastLineDuration = 5.0;

// The last line whose time is ≤ t (binary search); none before the first line, without lines,
// or for a NaN t.
std::optional<qsizetype> activeLineIndex(const QList<SyncedLine> &lines, double t);
// Words of a line: pieces between " " characters, empty pieces dropped.
qsizetype wordCount(QStringView text);
// How many words of the line are visible at t: the first at the line's start, then evenly over
// the line's span, all of them once the next line starts.
qsizetype revealedWordCount(const QList<SyncedLine> &lines, qsizetype lineIndex, double t);
// The same for a line given by its text and time (the line is looked up to find its end).
qsizetype revealedWordCount(const QList<SyncedLine> &lines, const QString &text, double lineTimestamp, double t);

// Of identified, timed items, the one lit for the active line at t (CardLightingRule).
template<class Id>
std::optional<Id> activeItemId(const QList<SyncedLine> &lines, double t,
                               const QList<std::pair<Id, std::optional<double>>> &items)
{
    const std::optional<qsizetype> line = activeLineIndex(lines, t);
    if (!line)
        return std::nullopt;
    const double start = lines.at(*line).timestamp;
    const qsizetype chosen = CardLightingRule::pick(items, start, [](const auto &item) { return item.second; });
    if (chosen < 0)
        return std::nullopt;
    return items.at(chosen).first;
}

} // namespace LyricLineTiming
