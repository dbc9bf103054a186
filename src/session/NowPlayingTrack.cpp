#include "session/NowPlayingTrack.h"

#include "platform/Text.h"

#include <QHashFunctions>

QString NowPlayingTrack::songKey() const
{
    // Trim before lower-casing; QString::toLower is the locale-independent Unicode mapping.
    return Text::trimmed(artist).toLower() + QLatin1Char('|') + Text::trimmed(title).toLower();
}

size_t qHash(const NowPlayingTrack &track, size_t seed) noexcept
{
    // Equal tracks must hash alike: 0.0 and -0.0 compare equal, so both hash as 0.0.
    const auto number = [](double d) { return d == 0 ? 0.0 : d; };
    QtPrivate::QHashCombine combine;
    seed = combine(seed, track.title);
    seed = combine(seed, track.artist);
    seed = combine(seed, track.album);
    seed = combine(seed, number(track.duration));
    seed = combine(seed, number(track.elapsed));
    seed = combine(seed, track.isPlaying);
    seed = combine(seed, track.sourceBundleIdentifier.has_value());
    if (track.sourceBundleIdentifier)
        seed = combine(seed, *track.sourceBundleIdentifier);
    seed = combine(seed, track.sampleHostTime.has_value());
    if (track.sampleHostTime)
        seed = combine(seed, track.sampleHostTime->nanoseconds);
    return seed;
}
