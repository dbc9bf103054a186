#pragma once

#include <QObject>
#include <QString>

#include <memory>

class BackupCoordinator;
class BackupService;
class CardStore;
class CardStoreActor;
class LLMProvider;
class LocalCardsRepository;
class LocalLyricsRepository;
class NowPlayingMonitor;
class PlayerViewModel;
class SessionCoordinator;
class StoreContainer;

// Everything built for one signed-in user, owned in one place so that a sign-out can drop it
// with a single deleteLater(): the teardown may start inside a backend client's coroutine (a 401),
// and nothing that coroutine still stands on may be destroyed before it has returned.
//
// Members are declared in the order they are built, so they are destroyed in reverse: the
// coordinator goes first, the store file's container last.
class UserGraph : public QObject
{
    Q_OBJECT
public:
    UserGraph(QString userId, QString storePath, QObject *parent = nullptr);
    ~UserGraph() override;

    QString userId;
    QString storePath;
    std::shared_ptr<StoreContainer> container;
    std::unique_ptr<PlayerViewModel> viewModel;
    std::unique_ptr<CardStore> cardStore;
    std::unique_ptr<NowPlayingMonitor> monitor;
    std::shared_ptr<LLMProvider> llm;
    std::shared_ptr<LocalLyricsRepository> lyrics;
    std::shared_ptr<LocalCardsRepository> cards;
    std::shared_ptr<CardStoreActor> cardStoreActor;
    std::unique_ptr<BackupService> backupService;
    std::unique_ptr<SessionCoordinator> coordinator;
    std::unique_ptr<BackupCoordinator> backupCoordinator;
};
