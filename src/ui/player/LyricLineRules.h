#pragma once

#include "core/Lyrics.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A lyric line's place relative to playback. Every line is `future` while no line plays.
enum class LineState { active, past, future };

// "active", "past", "future" (trace details).
QString lineStateName(LineState state);

// How a lyric line looks and which of its words are lit.
namespace LyricLineRules {

inline constexpr double activeOpacity = 1.0;
inline constexpr double restingOpacity = 0.65; // future lines, fresh past lines, Reduce Motion
inline constexpr double fadedOpacity = 0.22;
inline constexpr double pastHoldSeconds = 5.0;
inline constexpr double pastFadeSeconds = 0.8;
inline constexpr double lastLineSeconds = 5.0;

// The state of line `index` while `active` plays (none: every line is future).
LineState stateOf(qsizetype index, std::optional<qsizetype> active);

// The line's text cut at every single blank, empty pieces kept ("a  b" → "a", "", "b").
QStringList words(const QString &text);

// When line `index` ends: the next line's time; the last line lasts 5 s.
double lineEndTime(const QList<SyncedLine> &lines, qsizetype index);

// Opacity of a line in `state` at position `elapsed`; a past line holds 0.65 for 5 s after its
// end, then fades linearly to 0.22 over 0.8 s (never under Reduce Motion).
double lineOpacity(LineState state, double elapsed, double endTime, bool reduceMotion);

// How many leading pieces of `words` to light when `litCount` words are revealed: the count
// of revealed words skips empty pieces, so the lit run goes up to and including the
// litCount-th non-empty piece (and the empty pieces before it).
qsizetype litPieceCount(const QStringList &words, qsizetype litCount);

// The active row as rich text: the pieces joined by single blanks, the first `litPieces` in
// `litColor`, every piece HTML-escaped and blanks kept as typed.
QString wordRowRichText(const QStringList &words, qsizetype litPieces, const QString &litColor);

} // namespace LyricLineRules
