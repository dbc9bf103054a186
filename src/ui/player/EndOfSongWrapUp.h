#pragma once

#include "core/NowPlayingTrack.h"

#include <QString>

#include <optional>

// The summary card under the Now list in the last five seconds of the playing song.
namespace EndOfSongWrapUp {

inline constexpr double leadSeconds = 5.0;

// True exactly when a track is given, its duration is above 0, the screen follows the live song
// and duration − 5 ≤ elapsed. A comparison with NaN is false.
bool shouldShow(const std::optional<NowPlayingTrack> &track, bool isLive, double elapsed);
// "本次掌握了 3 句 🎉" for a count of 1 or more; "下一次再来挑战吧" otherwise.
QString headline(qsizetype newlyMasteredCount);

} // namespace EndOfSongWrapUp
