#pragma once

#include "platform/Clock.h"

#include <QString>

#include <optional>

class QSettings;

// What a view model is built with besides its position clock. The defaults are the
// application's own; tests pass their own.
struct PlayerViewModelDependencies
{
    // The user signed in when the model is built; none gives the "unknown" preference keys.
    std::optional<QString> userId;
    // The user defaults. Null: a QSettings() owned by the model. Must outlive the model.
    QSettings *settings = nullptr;
    // Measures the half-second quiet before an offset or preference is written.
    ContinuousClock *debounceClock = ContinuousClock::system();
    // The fallback when the position clock runs backwards.
    WallClock *wallClock = WallClock::system();
};
