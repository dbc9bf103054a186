#include "app/UserGraph.h"

#include "account/BackupCoordinator.h"
#include "account/BackupService.h"
#include "backend/LLMProvider.h"
#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "session/LocalCardsRepository.h"
#include "session/LocalLyricsRepository.h"
#include "session/SessionCoordinator.h"
#include "session/nowplaying/NowPlayingMonitor.h"
#include "session/player/PlayerViewModel.h"

UserGraph::UserGraph(QString userId, QString storePath, QObject *parent)
    : QObject(parent)
    , userId(std::move(userId))
    , storePath(std::move(storePath))
{
}

UserGraph::~UserGraph()
{
    // A coordinator that was never stopped (the application quits while signed in) still ends
    // its tasks and stops the monitor, so no reader process is left behind.
    if (coordinator)
        coordinator->stop();
}
