#pragma once

#include "core/NowPlayingTrack.h"

namespace server {

// The song key the desktop program computes for a track, so both ends name a song alike.
inline QString lyricsSongKey(const QString &title, const QString &artist)
{
    NowPlayingTrack track;
    track.title = title;
    track.artist = artist;
    return track.songKey();
}

} // namespace server
