#include "EndOfSongWrapUp.h"

namespace EndOfSongWrapUp {

bool shouldShow(const std::optional<NowPlayingTrack> &track, bool isLive, double elapsed)
{
    return track && track->duration > 0 && isLive && track->duration - leadSeconds <= elapsed;
}

QString headline(qsizetype newlyMasteredCount)
{
    if (newlyMasteredCount >= 1)
        return QStringLiteral("本次掌握了 %1 句 🎉").arg(newlyMasteredCount);
    return QStringLiteral("下一次再来挑战吧");
}

} // namespace EndOfSongWrapUp
