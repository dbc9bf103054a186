#include "app/AppState.h"

#include "account/BackupCoordinator.h"
#include "account/BackupService.h"
#include "app/UserGraph.h"
#include "backend/AuthService.h"
#include "backend/BudgetClock.h"
#include "backend/RemoteAPIConfig.h"
#include "backend/RemoteBackupProvider.h"
#include "backend/RemoteLLMProvider.h"
#include "backend/RemoteLyricsProvider.h"
#include "backend/RemoteSongStoryProvider.h"
#include "core/AppLog.h"
#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "platform/SqliteError.h"
#include "diagnostics/MainThreadWatchdog.h"
#include "diagnostics/RenderLoopProbe.h"
#include "session/LocalCardsRepository.h"
#include "session/LocalLyricsRepository.h"
#include "session/CantorellaError.h"
#include "session/SessionCoordinator.h"
#include "session/ToastCenter.h"
#include "session/nowplaying/MprisNowPlayingSource.h"
#include "session/nowplaying/NowPlayingMonitor.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"
#include "ui/design/FrameClock.h"

#include <QDir>
#include <QJSEngine>
#include <QMetaObject>

namespace {

QPointer<AppState> qmlInstance;

// The restore hooks. Free coroutines with their arguments by value: a capturing lambda
// coroutine would lose its captures once the lambda temporary is gone.

// Before the import: the playing song's fetch and story tasks end, then every store write
// handed to the actor before now has landed, so none lands over the restored library.
QCoro::Task<void> quietSessionForRestore(QPointer<SessionCoordinator> session, std::shared_ptr<CardStoreActor> actor)
{
    if (!session)
        co_return;
    session->prepareForRestore();
    co_await actor->barrier();
}

// After a successful import: the playing song is loaded again from the restored library.
QCoro::Task<void> reloadSessionAfterRestore(QPointer<SessionCoordinator> session)
{
    if (!session)
        co_return;
    co_await session->reloadCurrentTrack();
}

} // namespace

AppState::RootView AppState::rootViewFor(bool storedSessionLoaded, bool sessionPresent, GraphParts graph)
{
    if (sessionPresent) {
        const bool ready = graph.viewModel && graph.cardStore && graph.backupCoordinator;
        return ready ? RootView::Player : RootView::Loading;
    }
    return storedSessionLoaded ? RootView::SignIn : RootView::Loading;
}

AppState::AppState(AppStateDependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_deps(std::move(dependencies))
    , m_auth(m_deps.auth ? m_deps.auth : AuthService::shared())
    , m_continuousClock(m_deps.continuousClock ? m_deps.continuousClock : ContinuousClock::system())
    , m_wallClock(m_deps.wallClock ? m_deps.wallClock : WallClock::system())
    , m_probe(m_deps.probe ? m_deps.probe : &RenderLoopProbe::shared())
    , m_watchdog(m_deps.watchdog ? m_deps.watchdog : &MainThreadWatchdog::shared())
    , m_toastCenter(new ToastCenter(m_continuousClock, this))
    , m_cardLighting(new CardLightingCoordinator(m_continuousClock, this))
    , m_clocks(new ClockHandle(m_continuousClock, m_wallClock, this))
{
    m_clocks->setFrameClock(new FrameClock(m_continuousClock, m_clocks));
    qCInfo(lcApp, "AppState.init() called");
    m_probe->trace(QStringLiteral("AppState.init"), QString(), 1);
    m_watchdog->start();
    HttpSession *http = m_deps.http ? m_deps.http : &RemoteAPIConfig::sharedSession();
    m_songStoryProvider = std::make_shared<RemoteSongStoryProvider>(http, m_deps.apiBaseURL, m_auth);

    // Queued: a session change can be announced from inside a backend client's coroutine (a 401),
    // and the teardown it causes must not run inside that emission.
    connect(m_auth, &AuthService::sessionChanged, this, &AppState::applySessionChange, Qt::QueuedConnection);
    QMetaObject::invokeMethod(
        this, [this] { loadStoredSession(QPointer<AppState>(this), QPointer<AuthService>(m_auth)); },
        Qt::QueuedConnection);
}

AppState::~AppState()
{
    if (qmlInstance == this)
        qmlInstance = nullptr;
    // Graphs first (the current one and any awaiting deletion): their coordinators use the
    // app-wide objects below.
    m_graph = nullptr;
    qDeleteAll(findChildren<UserGraph *>(Qt::FindDirectChildrenOnly));
    m_watchdog->stop();
}

AppState *AppState::create(QQmlEngine *, QJSEngine *)
{
    Q_ASSERT_X(qmlInstance, "AppState::create", "the application shell registers its AppState first");
    if (qmlInstance)
        QJSEngine::setObjectOwnership(qmlInstance, QJSEngine::CppOwnership);
    return qmlInstance;
}

void AppState::setQmlInstance(AppState *state)
{
    qmlInstance = state;
}

PlayerViewModel *AppState::viewModel() const
{
    return m_graph ? m_graph->viewModel.get() : nullptr;
}

CardStore *AppState::cardStore() const
{
    return m_graph ? m_graph->cardStore.get() : nullptr;
}

SessionCoordinator *AppState::coordinator() const
{
    return m_graph ? m_graph->coordinator.get() : nullptr;
}

BackupCoordinator *AppState::backupCoordinator() const
{
    return m_graph ? m_graph->backupCoordinator.get() : nullptr;
}

std::optional<QString> AppState::configuredUserId() const
{
    return m_graph ? std::optional<QString>(m_graph->userId) : std::nullopt;
}

QString AppState::storePath() const
{
    return m_graph ? m_graph->storePath : QString();
}

QCoro::Task<void> AppState::loadStoredSession(QPointer<AppState> self, QPointer<AuthService> auth)
{
    if (!self || !auth)
        co_return;
    QCoro::Task<void> load = auth->waitForStoredSession();
    co_await std::move(load);
    if (!self)
        co_return;
    self->m_storedSessionLoaded = true;
    self->m_sessionPresent = self->m_auth->isSignedIn();
    self->configureIfNeeded();
    self->updateRootView();
}

void AppState::applySessionChange()
{
    const bool present = m_auth->isSignedIn();
    if (present == m_sessionPresent) {
        // A refreshed token of the same user changes nothing here. Only another user's session
        // that replaced this one between two turns starts the graph over.
        const std::optional<QString> userId = m_auth->currentUserId();
        if (!present || !m_graph || userId == m_graph->userId)
            return;
        resetForSignOut();
    }
    m_sessionPresent = present;
    if (present) {
        setSignInNotice(QString());
        configureIfNeeded();
    }
    else
        resetForSignOut();
    updateRootView();
}

void AppState::configureIfNeeded()
{
    const std::optional<QString> userId = m_auth->currentUserId();
    if (!userId) {
        qCInfo(lcApp, "AppState.configureIfNeeded() — no session yet, skipping");
        return;
    }
    if (m_graph && m_graph->userId == *userId)
        return;
    setup(*userId);
}

void AppState::setup(const QString &userId)
{
    qCInfo(lcApp, "AppState.setup() — building dependency graph");
    m_probe->trace(QStringLiteral("AppState.setup"), QStringLiteral("userId=") + userId, 1);

    // Built whole before anything is published: the root view sees no graph or all of it.
    std::unique_ptr<UserGraph> graph;
    try {
        const QString folder = m_deps.dataFolder.isEmpty() ? StoreContainer::defaultFolder() : m_deps.dataFolder;
        // Refuses an id that cannot be part of a file name before anything touches the disk.
        const QString storePath = QDir(folder).filePath(StoreContainer::fileNameForUser(userId));
        qCInfo(lcApp, "Using SQLite store: %s", qUtf8Printable(storePath));
        graph = std::make_unique<UserGraph>(userId, storePath);
        graph->container = StoreContainer::openForUser(folder, userId);

        PlayerViewModelDependencies modelDependencies;
        modelDependencies.userId = userId;
        modelDependencies.settings = m_deps.settings;
        modelDependencies.debounceClock = m_continuousClock;
        modelDependencies.wallClock = m_wallClock;
        ContinuousClock *const clock = m_continuousClock;
        graph->viewModel = std::make_unique<PlayerViewModel>([clock] { return clock->now(); }, modelDependencies);
        graph->cardStore = std::make_unique<CardStore>(graph->container, m_wallClock);

        std::unique_ptr<NowPlayingSource> source;
        if (m_deps.sourceFactory) {
            source = m_deps.sourceFactory();
        } else {
            MprisNowPlayingSource::Options options;
            options.clock = m_continuousClock;
            source = std::make_unique<MprisNowPlayingSource>(options);
        }
        graph->monitor = std::make_unique<NowPlayingMonitor>(std::move(source), m_continuousClock);

        HttpSession *http = m_deps.http ? m_deps.http : &RemoteAPIConfig::sharedSession();
        graph->llm = std::make_shared<RemoteLLMProvider>(http, m_deps.apiBaseURL, m_auth,
                                                         std::make_shared<ContinuousBudgetClock>(m_continuousClock));
        auto lyricsClient = std::make_shared<RemoteLyricsProvider>(
            http, m_auth, m_deps.apiBaseURL.value_or(RemoteAPIConfig::baseURL()));
        graph->lyrics = std::make_shared<LocalLyricsRepository>(lyricsClient, m_continuousClock);
        graph->cards = std::make_shared<LocalCardsRepository>(graph->cardStore.get(), graph->llm);
        graph->cardStoreActor = std::make_shared<CardStoreActor>(graph->container, m_wallClock);
        // The window's writes queue on the pipeline's actor, behind a restore.
        graph->cardStore->setBackgroundWriter(graph->cardStoreActor);
        QPointer<ToastCenter> toasts(m_toastCenter);
        connect(graph->cardStore.get(), &CardStore::backgroundWriteFailed, this, [toasts](std::exception_ptr error) {
            if (toasts)
                toasts->show(QStringLiteral("操作失败：") + localizedDescription(error), 1.5);
        });
        graph->backupService = std::make_unique<BackupService>(graph->cardStore.get(), QStringLiteral("en"),
                                                               m_wallClock, graph->cardStoreActor);
        graph->coordinator = std::make_unique<SessionCoordinator>(
            graph->monitor.get(), graph->lyrics, graph->cards, graph->llm, graph->cardStore.get(),
            graph->cardStoreActor, graph->viewModel.get(), m_cardLighting, m_songStoryProvider, m_toastCenter,
            m_continuousClock);
        graph->viewModel->setCardStoreActor(graph->cardStoreActor);

        graph->backupCoordinator = std::make_unique<BackupCoordinator>(
            graph->backupService.get(), std::make_shared<RemoteBackupProvider>(http, m_deps.apiBaseURL, m_auth));
        const QPointer<SessionCoordinator> session(graph->coordinator.get());
        const std::shared_ptr<CardStoreActor> actor = graph->cardStoreActor;
        graph->backupCoordinator->setOnRestoreWillImport([session, actor] { return quietSessionForRestore(session, actor); });
        graph->backupCoordinator->setOnRestoreDidSucceed([session] { return reloadSessionAfterRestore(session); });
    } catch (const StoreError &error) {
        qCWarning(lcApp, "StoreContainer init failed: %s", qUtf8Printable(AppLog::errorText(error)));
        if (error.kind() == StoreError::Kind::InvalidUserId)
            refuseSession();
        // Otherwise the graph stays unbuilt: the loading screen until the next sign-in or launch.
        return;
    } catch (const std::exception &error) {
        qCWarning(lcApp, "StoreContainer init failed: %s", qUtf8Printable(AppLog::errorText(error)));
        return;
    }

    PlayerViewModel *model = graph->viewModel.get();
    connect(model, &PlayerViewModel::trackChanged, this, &AppState::traceMainViewBranch);
    connect(model, &PlayerViewModel::songSessionIdChanged, this, &AppState::traceMainViewBranch);
    graph->setParent(this);
    m_graph = graph.release();
    emit graphChanged();
    m_probe->setState(QStringLiteral("configuredUserId"), userId);
    qCInfo(lcApp, "AppState.setup() complete — viewModel and coordinator ready");
    updateRootView();
}

void AppState::refuseSession()
{
    // This user id fails the same way at every launch: without a sign-out the window would
    // stay on the loading screen for good. The session is cleared at once (the change arrives
    // queued and brings the sign-in view); telling the service runs on by itself.
    setSignInNotice(QStringLiteral("无法为此帐户打开本地学习库（帐户标识无效），已退出登录。请重新登录或联系我们。"));
    [[maybe_unused]] QCoro::Task<void> signingOut = m_auth->signOut();
}

void AppState::setSignInNotice(const QString &notice)
{
    if (m_signInNotice == notice)
        return;
    m_signInNotice = notice;
    emit signInNoticeChanged();
}

void AppState::start()
{
    qCInfo(lcApp, "AppState.start() — calling coordinator.start()");
    m_probe->trace(QStringLiteral("AppState.start"), QString(), 1);
    if (SessionCoordinator *coordinator = this->coordinator())
        coordinator->start();
}

void AppState::resetForSignOut()
{
    UserGraph *graph = m_graph;
    if (graph && graph->coordinator)
        graph->coordinator->stop();
    m_graph = nullptr;
    if (graph) {
        graph->viewModel->disconnect(this);
        emit graphChanged();
        // At once, not with the rest of the graph: a backup or restore waiting on the network
        // or the store ends without importing or writing anything once its coordinator is gone.
        // The coordinator is never on the stack here: session changes arrive queued.
        graph->backupCoordinator.reset();
    }
    m_probe->trace(QStringLiteral("AppState.resetForSignOut"), QString(), 1);
    m_probe->setState(QStringLiteral("configuredUserId"), QStringLiteral("nil"));
    qCInfo(lcApp, "AppState.resetForSignOut() — cleared dependency graph");
    // Later, never now: this may run while a client of the graph is still on the stack.
    if (graph)
        graph->deleteLater();
    updateRootView();
}

void AppState::rootViewShown(AppState::RootView view)
{
    switch (view) {
    case RootView::Player:
        qCInfo(lcApp, "MainView appeared — starting coordinator");
        start();
        break;
    case RootView::Loading:
        qCInfo(lcApp, "Loading view appeared");
        break;
    case RootView::SignIn:
        break;
    }
}

void AppState::retryLyrics()
{
    if (SessionCoordinator *coordinator = this->coordinator())
        coordinator->retryLyrics();
}

void AppState::retryCards()
{
    if (SessionCoordinator *coordinator = this->coordinator())
        coordinator->retryCards();
}

void AppState::updateRootView()
{
    const RootView view = rootViewFor(m_storedSessionLoaded, m_sessionPresent,
                                      {viewModel() != nullptr, cardStore() != nullptr, backupCoordinator() != nullptr});
    const bool changed = view != m_rootView;
    m_rootView = view;
    traceMainViewBranch();
    if (changed)
        emit rootViewChanged();
}

void AppState::traceMainViewBranch()
{
    PlayerViewModel *model = viewModel();
    if (m_rootView != RootView::Player || !model)
        return;
    const QString key = model->track() ? model->track()->songKey() : QStringLiteral("nil");
    m_probe->trace(QStringLiteral("CantorellaApp.MainViewBranch"),
                   QStringLiteral("track=") + key + QStringLiteral(" session=") + QString::number(model->songSessionId()),
                   20);
}
