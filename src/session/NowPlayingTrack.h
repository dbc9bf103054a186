#pragma once

#include "platform/Clock.h"

#include <QMetaType>
#include <QString>

#include <optional>

// One sample of what the computer is playing.
struct NowPlayingTrack
{
    QString title;  // never empty when produced by the now-playing source
    QString artist; // empty when the player gives none
    QString album;  // empty when none
    double duration = 0; // seconds; 0 when the player gives none
    double elapsed = 0;  // playback position in seconds at sampleHostTime
    bool isPlaying = false;
    std::optional<QString> sourceBundleIdentifier; // the player that published the sample
    std::optional<ContinuousInstant> sampleHostTime; // when the sample was taken

    // The identity of a song everywhere (store, caches, backend requests): the artist trimmed of
    // white space and newlines, then lower-cased; "|"; the title treated the same way.
    QString songKey() const;

    // Every field counts, position and sample instant included: two reads of the same song are
    // never equal.
    bool operator==(const NowPlayingTrack &) const = default;
};

size_t qHash(const NowPlayingTrack &track, size_t seed = 0) noexcept;

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
