#include "server/content/SongKey.h"

#include "core/NowPlayingTrack.h"

namespace server {

QString songKeyOf(const QString &title, const QString &artist)
{
    NowPlayingTrack track;
    track.title = title;
    track.artist = artist;
    return track.songKey();
}

} // namespace server
