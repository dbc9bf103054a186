#pragma once

#include "core/NowPlayingTrack.h" // the track value: in core, because the cards client takes it
#include "platform/Clock.h"

#include <QMetaType>
#include <QString>

#include <optional>


// The fixed point from which the playback position is extrapolated between samples.
struct SampleAnchor
{
    ContinuousInstant hostTime; // the instant at which `elapsed` held
    double elapsed = 0;         // seconds
    double rate = 0;            // 1.0 while playing, 0.0 otherwise

    // elapsed + (at − hostTime) × rate; constant while paused.
    double positionAt(ContinuousInstant at) const { return elapsed + (at - hostTime).count() / 1e9 * rate; }

    bool operator==(const SampleAnchor &) const = default;
};

Q_DECLARE_METATYPE(NowPlayingTrack)
Q_DECLARE_METATYPE(SampleAnchor)
