#include "session/player/SongOffsetRules.h"

#include <algorithm>
#include <cmath>

namespace SongOffsetRules {

std::optional<double> rounded(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double clamped = std::clamp(value, -limit, limit);
    // std::round rounds halves away from zero. The product keeps the grid's floating-point noise
    // (3 steps are 0.15000000000000002), as the stored values do.
    return std::round(clamped / step) * step;
}

QString globalOffsetKey(const QString &prefix)
{
    return QStringLiteral("cantorella.") + prefix + QStringLiteral(".globalOffset");
}

QString nudgeEnabledKey(const QString &prefix)
{
    return QStringLiteral("cantorella.") + prefix + QStringLiteral(".nudgeEnabled");
}

} // namespace SongOffsetRules
