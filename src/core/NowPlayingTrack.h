#pragma once

#include "platform/Clock.h"
#include "platform/Text.h"

#include <QHashFunctions>
#include <QString>

#include <optional>

// One sample of what the desktop's player is playing. A plain value: two samples are equal only
// when every field, position and sample instant included, is the same.
struct NowPlayingTrack
{
    QString title;                // never empty when a now-playing source produced it
    QString artist;               // empty when the player gives none
    QString album;                // empty when the player gives none
    double duration = 0.0;        // seconds; 0 when the player gives none
    double elapsed = 0.0;         // playback position in seconds at sampleHostTime
    bool isPlaying = false;       // the player's rate was above 0
    std::optional<QString> sourceBundleIdentifier; // the publishing player (desktop entry or bus-name suffix)
    std::optional<ContinuousInstant> sampleHostTime; // when the sample was taken, on the continuous clock

    // The identity of a song everywhere (stores, caches, requests): artist trimmed of white space
    // and newlines and lower-cased, "|", title trimmed and lower-cased the same way.
    QString songKey() const
    {
        return Text::trimmed(artist).toLower() + QLatin1Char('|') + Text::trimmed(title).toLower();
    }

    friend bool operator==(const NowPlayingTrack &, const NowPlayingTrack &) = default;
};

inline size_t qHash(const NowPlayingTrack &track, size_t seed = 0) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, track.title);
    seed = combine(seed, track.artist);
    seed = combine(seed, track.album);
    // 0.0 and -0.0 compare equal, so they must hash alike.
    seed = combine(seed, track.duration == 0.0 ? 0.0 : track.duration);
    seed = combine(seed, track.elapsed == 0.0 ? 0.0 : track.elapsed);
    seed = combine(seed, track.isPlaying);
    seed = combine(seed, track.sourceBundleIdentifier.has_value());
    if (track.sourceBundleIdentifier)
        seed = combine(seed, *track.sourceBundleIdentifier);
    seed = combine(seed, track.sampleHostTime.has_value());
    if (track.sampleHostTime)
        seed = combine(seed, track.sampleHostTime->nanoseconds);
    return seed;
}
