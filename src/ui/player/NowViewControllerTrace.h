#pragma once

#include "PlayerFormat.h"
#include "diagnostics/RenderLoopProbe.h"
#include "session/player/CardLightingCoordinator.h"

#include <QString>

#include <optional>

// The texts of the Now tab's trace events.
namespace NowViewTrace {

inline RenderLoopProbe &probe()
{
    return RenderLoopProbe::shared();
}

inline QString orNil(const std::optional<QString> &text)
{
    return text.value_or(QStringLiteral("nil"));
}

using PlayerFormat::traceBool;

inline QString modeText(const LightingMode &mode)
{
    return mode.isAuto() ? QStringLiteral("auto") : QStringLiteral("manual(") + *mode.manualCardId() + u')';
}

} // namespace NowViewTrace
