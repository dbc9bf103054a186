#pragma once

#include <QString>

#include <optional>

// The lyric offsets' grid and where the user's offset preferences live in the user defaults.
namespace SongOffsetRules {

// Per-song offsets: within ±2 s on a 0.05 s grid.
inline constexpr double limit = 2.0;
inline constexpr double step = 0.05;

// round(clamp(value, −2, 2) / 0.05) × 0.05, halves away from zero; none when not finite.
std::optional<double> rounded(double value);

// The user-defaults keys of the global offset and the nudge switch, under a user's prefix.
QString globalOffsetKey(const QString &prefix);
QString nudgeEnabledKey(const QString &prefix);

} // namespace SongOffsetRules
