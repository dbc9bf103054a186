// AppState on fakes: which root view shows when, what the per-user graph is built on, and that
// sign-out, another user, a refused user id, a token refresh and a 401 in the middle of a song
// each do exactly what they should to the graph.

#include "ShellFixture.h"

#include "app/AppState.h"
#include "core/store/CardStore.h"
#include "session/SessionCoordinator.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

using RootView = AppState::RootView;

// Every root view the state shows, the first one included.
struct RootViewLog
{
    QList<RootView> views;
    explicit RootViewLog(AppState &state)
    {
        views << state.rootView();
        QObject::connect(&state, &AppState::rootViewChanged, &state, [this, &state] { views << state.rootView(); });
    }
};

NowPlayingTrack demoTrack()
{
    NowPlayingTrack track;
    track.title = QStringLiteral("Amazing Grace");
    track.artist = QStringLiteral("Traditional");
    track.duration = 82;
    track.elapsed = 3;
    track.isPlaying = true;
    return track;
}

} // namespace

class TestAppState : public QObject
{
    Q_OBJECT

private slots:
    void rootViewTable_data()
    {
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<bool>("session");
        QTest::addColumn<bool>("graph");
        QTest::addColumn<RootView>("expected");
        QTest::newRow("reading the secret store") << false << false << false << RootView::Loading;
        QTest::newRow("signed in before the read ended") << false << true << false << RootView::Loading;
        QTest::newRow("graph built before the read ended") << false << true << true << RootView::Player;
        QTest::newRow("no session") << true << false << false << RootView::SignIn;
        QTest::newRow("signed out, graph still there") << true << false << true << RootView::SignIn;
        QTest::newRow("session, graph not built") << true << true << false << RootView::Loading;
        QTest::newRow("session and graph") << true << true << true << RootView::Player;
    }

    void rootViewTable()
    {
        QFETCH(bool, loaded);
        QFETCH(bool, session);
        QFETCH(bool, graph);
        QFETCH(RootView, expected);
        QCOMPARE(AppState::rootViewFor(loaded, session, graph), expected);
    }

    void storedSessionBuildsTheUsersGraphWithoutShowingSignIn()
    {
        ShellFixture fx;
        const AuthSession stored = fx.issuedSession(QStringLiteral("a@example.com"));
        fx.store(stored);
        // A slow secret store: the read ends well after the window is up.
        fx.secrets->setDelay(std::chrono::milliseconds(300));
        fx.startAuth();
        AppState state(fx.dependencies());
        RootViewLog log(state);

        QTRY_COMPARE(state.rootView(), RootView::Player);
        QCOMPARE(log.views, (QList<RootView>{RootView::Loading, RootView::Player}));
        QCOMPARE(state.configuredUserId(), std::optional<QString>(stored.userId));
        QCOMPARE(QFileInfo(state.storePath()).fileName(), QStringLiteral("default-%1-en.store").arg(stored.userId));
        QCOMPARE(QFileInfo(state.storePath()).absolutePath(), QFileInfo(fx.dataFolder()).absoluteFilePath());
        QVERIFY(QFileInfo::exists(state.storePath()));
        QVERIFY(state.viewModel() && state.cardStore() && state.coordinator());
        QCOMPARE(fx.probeState(QStringLiteral("configuredUserId")), stored.userId);

        // Once more for the same user: nothing is built.
        QSignalSpy graphChanges(&state, &AppState::graphChanged);
        PlayerViewModel *model = state.viewModel();
        state.configureIfNeeded();
        QCOMPARE(graphChanges.count(), 0);
        QCOMPARE(state.viewModel(), model);
        QCOMPARE(fx.sources->made, 1);
    }

    void noStoredSessionShowsSignInAfterTheRead()
    {
        ShellFixture fx;
        fx.secrets->setDelay(std::chrono::milliseconds(100));
        fx.startAuth();
        AppState state(fx.dependencies());
        RootViewLog log(state);
        QTRY_COMPARE(state.rootView(), RootView::SignIn);
        QCOMPARE(log.views, (QList<RootView>{RootView::Loading, RootView::SignIn}));
        QVERIFY(!state.viewModel());
        QCOMPARE(fx.sources->made, 0);
    }

    void signOutDropsTheGraphAndAnotherUserGetsANewOne()
    {
        ShellFixture fx;
        fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        AuthService &auth = fx.startAuth();
        AppState state(fx.dependencies());
        QTRY_COMPARE(state.rootView(), RootView::Player);
        state.rootViewShown(RootView::Player);
        QCOMPARE(fx.sources->started, 1);

        ToastCenter *const toasts = state.toastCenter();
        CardLightingCoordinator *const lighting = state.cardLighting();
        const std::shared_ptr<SongStoryProvider> story = state.songStoryProvider();
        const QString storeOfA = state.storePath();
        QPointer<PlayerViewModel> modelOfA = state.viewModel();
        QPointer<SessionCoordinator> coordinatorOfA = state.coordinator();

        TaskRunner::run(auth.signOut());
        QTRY_COMPARE(state.rootView(), RootView::SignIn);
        QVERIFY(!state.viewModel() && !state.cardStore() && !state.coordinator());
        QVERIFY(!state.configuredUserId());
        QCOMPARE(fx.sources->stopped, 1);
        QCOMPARE(fx.probeState(QStringLiteral("configuredUserId")), QStringLiteral("nil"));
        QTRY_VERIFY(modelOfA.isNull() && coordinatorOfA.isNull());
        QCOMPARE(fx.sources->destroyed, 1);
        QVERIFY(QFileInfo::exists(storeOfA)); // the store file stays

        fx.server.auth().addUser(QStringLiteral("b@example.com"), QStringLiteral("secret-2"));
        TaskRunner::run(auth.signIn(QStringLiteral("b@example.com"), QStringLiteral("secret-2")));
        QTRY_COMPARE(state.rootView(), RootView::Player);
        QCOMPARE(state.configuredUserId(), auth.currentUserId());
        QVERIFY(state.storePath() != storeOfA);
        QCOMPARE(QFileInfo(state.storePath()).fileName(),
                 QStringLiteral("default-%1-en.store").arg(*auth.currentUserId()));
        QCOMPARE(fx.sources->made, 2);
        QCOMPARE(state.toastCenter(), toasts);
        QCOMPARE(state.cardLighting(), lighting);
        QCOMPARE(state.songStoryProvider(), story);
    }

    void refusedUserIdLeavesLoadingAndTheNextSignInTriesAgain()
    {
        ShellFixture fx;
        AuthSession stored = fx.issuedSession(QStringLiteral("a@example.com"));
        stored.userId = QStringLiteral("../escape");
        fx.store(stored);
        AuthService &auth = fx.startAuth();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^StoreContainer init failed: ")));
        AppState state(fx.dependencies());
        QTRY_VERIFY(state.hasLoadedStoredSession());
        QCOMPARE(state.rootView(), RootView::Loading);
        QVERIFY(!state.configuredUserId());
        QCOMPARE(fx.sources->made, 0);
        QVERIFY(QDir(fx.dataFolder()).entryList(QDir::Files).isEmpty());

        TaskRunner::run(auth.signOut());
        QTRY_COMPARE(state.rootView(), RootView::SignIn);
        TaskRunner::run(auth.signIn(QStringLiteral("a@example.com"), QStringLiteral("secret-1")));
        QTRY_COMPARE(state.rootView(), RootView::Player);
        QCOMPARE(state.configuredUserId(), auth.currentUserId());
    }

    void tokenRefreshRebuildsNothing()
    {
        ShellFixture fx;
        // Inside the refresh leeway: the next header asks for a refresh first.
        fx.store(fx.issuedSession(QStringLiteral("a@example.com"), 30));
        AuthService &auth = fx.startAuth();
        AppState state(fx.dependencies());
        QTRY_COMPARE(state.rootView(), RootView::Player);
        const AuthSession before = *auth.session();
        QPointer<PlayerViewModel> model = state.viewModel();
        QSignalSpy graphChanges(&state, &AppState::graphChanged);
        QSignalSpy rootChanges(&state, &AppState::rootViewChanged);

        TaskRunner::run(auth.authorizationHeader());
        QVERIFY(auth.session()->accessToken != before.accessToken);
        QTest::qWait(50); // the queued reaction to the change, if there were one
        QCOMPARE(graphChanges.count(), 0);
        QCOMPARE(rootChanges.count(), 0);
        QCOMPARE(state.viewModel(), model.data());
        QCOMPARE(fx.sources->made, 1);
    }

    void unauthorizedMidSongTearsDownWithoutACrash()
    {
        ShellFixture fx;
        fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        fx.server.setReply(QStringLiteral("/api/track"),
                           HttpFake::Reply::json(401, QJsonObject{{QStringLiteral("error"), QStringLiteral("unauthorized")}}));
        fx.startAuth();
        AppState state(fx.dependencies());
        QTRY_COMPARE(state.rootView(), RootView::Player);
        state.rootViewShown(RootView::Player);
        QPointer<PlayerViewModel> model = state.viewModel();

        fx.sources->latest.send(demoTrack());
        QTRY_COMPARE(fx.server.count(QStringLiteral("/api/track")), 1);
        QTRY_COMPARE(state.rootView(), RootView::SignIn);
        QVERIFY(!state.viewModel());
        QTRY_VERIFY(model.isNull());
        QCOMPARE(fx.sources->stopped, 1);
        QCOMPARE(fx.sources->destroyed, 1);
        QVERIFY(!fx.storedSession());
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
