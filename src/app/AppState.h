#pragma once

// Complete types: the properties below reach QML.
#include "account/BackupCoordinator.h"
#include "backend/AuthService.h"
#include "core/store/CardStore.h"
#include "session/ToastCenter.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

class HttpSession;
class MainThreadWatchdog;
class NowPlayingSource;
class QJSEngine;
class QQmlEngine;
class QSettings;
class RenderLoopProbe;
class SessionCoordinator;
class SongStoryProvider;
class UserGraph;

// What the object graph is built on. Every member has the application's own default; tests
// replace what they need (fakes, temporary folders, manual clocks).
struct AppStateDependencies
{
    AuthService *auth = nullptr;         // null: AuthService::shared()
    QString dataFolder;                  // empty: StoreContainer::defaultFolder()
    QSettings *settings = nullptr;       // the user defaults; null: each view model's own QSettings()
    // Makes each user's now-playing source; null: the MPRIS source with its reader beside the program.
    std::function<std::unique_ptr<NowPlayingSource>()> sourceFactory;
    HttpSession *http = nullptr;         // the backend clients' session; null: RemoteAPIConfig::sharedSession()
    std::optional<QUrl> apiBaseURL;      // the backend's address; none: RemoteAPIConfig::baseURL()
    ContinuousClock *continuousClock = nullptr; // null: the system's
    WallClock *wallClock = nullptr;             // null: the system's
    MainThreadWatchdog *watchdog = nullptr;     // null: MainThreadWatchdog::shared()
    RenderLoopProbe *probe = nullptr;           // null: RenderLoopProbe::shared()
};

// The composition root. Builds the app-wide services once and, for each signed-in user, the
// per-user graph (store, view model, now-playing chain, clients, repositories, coordinator);
// drops that graph on sign-out. Decides which of the three root views the window shows.
// GUI thread only.
class AppState : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(RootView rootView READ rootView NOTIFY rootViewChanged)
    Q_PROPERTY(PlayerViewModel *viewModel READ viewModel NOTIFY graphChanged)
    Q_PROPERTY(CardStore *cardStore READ cardStore NOTIFY graphChanged)
    Q_PROPERTY(BackupCoordinator *backupCoordinator READ backupCoordinator NOTIFY graphChanged)
    Q_PROPERTY(ToastCenter *toastCenter READ toastCenter CONSTANT)
    Q_PROPERTY(CardLightingCoordinator *cardLighting READ cardLighting CONSTANT)
    Q_PROPERTY(AuthService *auth READ auth CONSTANT)
    Q_PROPERTY(ClockHandle *clocks READ clocks CONSTANT)
    Q_PROPERTY(QString signInNotice READ signInNotice NOTIFY signInNoticeChanged)

public:
    enum class RootView { Loading, SignIn, Player };
    Q_ENUM(RootView)

    // What of the per-user graph the player needs is there.
    struct GraphParts
    {
        bool viewModel = false;
        bool cardStore = false;
        bool backupCoordinator = false;
    };

    // The root view as a pure function of what is known: until the stored session has been read
    // the window shows the loading screen (so a stored session never flashes the sign-in view);
    // without a session the sign-in view; with one, the player once the view model, the store
    // and the backup coordinator are all there.
    static RootView rootViewFor(bool storedSessionLoaded, bool sessionPresent, GraphParts graph);

    // No default constructor: QML would prefer it to create() and make a second instance.
    explicit AppState(AppStateDependencies dependencies, QObject *parent = nullptr);
    ~AppState() override;

    // The QML singleton is the instance the application shell registered.
    static AppState *create(QQmlEngine *qmlEngine, QJSEngine *jsEngine);
    static void setQmlInstance(AppState *state);

    RootView rootView() const { return m_rootView; }
    PlayerViewModel *viewModel() const;
    CardStore *cardStore() const;
    SessionCoordinator *coordinator() const;
    BackupCoordinator *backupCoordinator() const;
    ToastCenter *toastCenter() const { return m_toastCenter; }
    CardLightingCoordinator *cardLighting() const { return m_cardLighting; }
    AuthService *auth() const { return m_auth; }
    ClockHandle *clocks() const { return m_clocks; }
    const std::shared_ptr<SongStoryProvider> &songStoryProvider() const { return m_songStoryProvider; }
    std::optional<QString> configuredUserId() const;
    // The store file of the current graph; empty without one.
    QString storePath() const;
    bool hasLoadedStoredSession() const { return m_storedSessionLoaded; }
    // Why the last session was signed out without the user asking (its user id cannot name a
    // store, so no library can be opened for it), for the sign-in view to show; empty
    // otherwise. Cleared when a session is present again.
    QString signInNotice() const { return m_signInNotice; }

    // Builds the graph for the signed-in user unless it is already built for that user.
    void configureIfNeeded();
    void setup(const QString &userId);
    // Starts the coordinator (it ignores every call after the first).
    void start();
    // Stops the coordinator and drops the graph (deleted on a later turn of the event loop).
    void resetForSignOut();

    // The window shows a root view: the player starts the coordinator, the loading screen logs.
    Q_INVOKABLE void rootViewShown(AppState::RootView view);
    // The player's retry actions; they reach the coordinator of the moment, if there is one.
    Q_INVOKABLE void retryLyrics();
    Q_INVOKABLE void retryCards();

signals:
    void rootViewChanged();
    void signInNoticeChanged();
    // The per-user graph was published or withdrawn (viewModel, cardStore, backupCoordinator).
    void graphChanged();

private:
    static QCoro::Task<void> loadStoredSession(QPointer<AppState> self, QPointer<AuthService> auth);
    // Acts on a change of the session's presence, on the turn after the change was announced.
    void applySessionChange();
    void updateRootView();
    void traceMainViewBranch();
    void setSignInNotice(const QString &notice);
    // Signs out a session whose user id no store can be opened for, with a notice saying so.
    void refuseSession();

    AppStateDependencies m_deps;
    AuthService *m_auth;
    ContinuousClock *m_continuousClock;
    WallClock *m_wallClock;
    RenderLoopProbe *m_probe;
    MainThreadWatchdog *m_watchdog;
    ToastCenter *m_toastCenter;
    CardLightingCoordinator *m_cardLighting;
    ClockHandle *m_clocks;
    std::shared_ptr<SongStoryProvider> m_songStoryProvider;

    QPointer<UserGraph> m_graph;
    bool m_storedSessionLoaded = false;
    bool m_sessionPresent = false; // the presence this object last acted on
    RootView m_rootView = RootView::Loading;
    QString m_signInNotice;
};
