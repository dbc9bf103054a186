#pragma once

#include "core/Lyrics.h"
#include "session/nowplaying/NowPlayingTrack.h"
#include "session/player/PlayerViewModel.h"

#include <QList>

#include <memory>

// Fixed demonstration content for previews and manual checks of the player screens: a track,
// eight synced lines and seven study cards. The running application never reads it.
namespace MockTrackProvider {

// Playing, 19.8 s into 42 s, from "com.apple.Music", no sample instant.
const NowPlayingTrack &demoTrack();
const QList<SyncedLine> &demoLines();
// Seven cards with texts and tags, without line times or hints.
const QList<LearnedCardVM> &demoCards();

// A new view model on the continuous clock showing the demo song (synced lyrics with an empty
// raw text, the demo lines and cards, no language). No store actor is attached.
std::unique_ptr<PlayerViewModel> demoViewModel(PlayerViewModelDependencies dependencies = {});

} // namespace MockTrackProvider
