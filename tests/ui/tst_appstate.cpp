// AppState on fakes: which root view shows when, what the per-user graph is built on, and that
// sign-out, another user, a refused user id, a token refresh and a 401 in the middle of a song
// each do exactly what they should to the graph. The backup coordinator of the graph: its
// restore hooks around the import (the playing song's lyrics badge and Now list kept), its
// document's time, and a sign-out during a restore.

#include "ShellFixture.h"

#include "account/BackupCoordinator.h"
#include "app/AppState.h"
#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/SongRecord.h"
#include "core/store/StoreContainer.h"
#include "session/SessionCoordinator.h"
#include "ui/player/NowViewController.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
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

const QString demoKey = QStringLiteral("traditional|amazing grace");

// A backup holding the demo song with two mastered cards.
const QByteArray demoBackup = R"({"appBuild": "1", "exportedAt": "2024-05-01T10:00:00Z", "namespaces": {"en": {"songs": [
 {"artist": "Traditional", "cards": [
   {"cn": "一", "en": "restored one", "example": "e", "isFavorite": false, "isMastered": true,
    "lineTimestamp": 1, "masteredAt": "2024-04-01T00:00:00Z", "note": "n", "tag": "t"},
   {"cn": "二", "en": "restored two", "example": "e", "isFavorite": false, "isMastered": true,
    "lineTimestamp": 4, "masteredAt": "2024-04-01T00:00:00Z", "note": "n", "tag": "t"}],
  "isFavorite": false, "key": "traditional|amazing grace", "language": "en",
  "lastPlayedAt": "2024-04-30T12:00:00Z", "lyrics": "[00:01.00]Amazing grace\n[00:04.00]How sweet the sound\n",
  "playCount": 3, "title": "Amazing Grace"}]}}})";

// The backend's answers for the demo song: lyrics, one generated card and a story.
void serveDemoSong(HttpFake &server)
{
    server.setReply(QStringLiteral("/api/track"),
                    HttpFake::Reply::json(200, QJsonObject{{"lyrics", "[00:01.00]Amazing grace\n"}, {"source", "lrclib"},
                                                           {"songKey", demoKey}, {"language", "en"}}));
    const QJsonObject card{{"en", "generated"}, {"cn", "生成"}, {"note", "n"}, {"example", "e"},
                           {"tag", "t"}, {"lineTimestamp", 1.0}};
    server.setReply(QStringLiteral("/api/cards"),
                    HttpFake::Reply::json(200, QJsonObject{{"cards", QJsonArray{card}}, {"songKey", demoKey}}));
    server.setReply(QStringLiteral("/api/story"),
                    HttpFake::Reply::json(200, QJsonObject{{"article", "A story."}, {"songKey", demoKey}}));
}

// The number of cards the store file holds for the demo song (-1: no such song).
int storedDemoCards(const QString &storePath)
{
    auto container = StoreContainer::open(storePath);
    CardStore store(container);
    SongRecord *record = store.record(demoKey);
    return record ? int(record->cards().size()) : -1;
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
        QTest::addColumn<QString>("parts"); // "v" view model, "s" card store, "b" backup coordinator
        QTest::addColumn<RootView>("expected");
        QTest::newRow("reading the secret store") << false << false << "" << RootView::Loading;
        QTest::newRow("signed in before the read ended") << false << true << "" << RootView::Loading;
        QTest::newRow("graph built before the read ended") << false << true << "vsb" << RootView::Player;
        QTest::newRow("no session") << true << false << "" << RootView::SignIn;
        QTest::newRow("signed out, graph still there") << true << false << "vsb" << RootView::SignIn;
        QTest::newRow("session, graph not built") << true << true << "" << RootView::Loading;
        QTest::newRow("session and graph") << true << true << "vsb" << RootView::Player;
        QTest::newRow("store without view model") << true << true << "sb" << RootView::Loading;
        QTest::newRow("view model without backup coordinator") << true << true << "vs" << RootView::Loading;
        QTest::newRow("view model without store") << true << true << "vb" << RootView::Loading;
    }

    void rootViewTable()
    {
        QFETCH(bool, loaded);
        QFETCH(bool, session);
        QFETCH(QString, parts);
        QFETCH(RootView, expected);
        const AppState::GraphParts graph{parts.contains(u'v'), parts.contains(u's'), parts.contains(u'b')};
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
        QVERIFY(state.viewModel() && state.cardStore() && state.coordinator() && state.backupCoordinator());
        QCOMPARE(state.backupCoordinator()->status(), BackupCoordinator::Status::Idle);
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
        QPointer<BackupCoordinator> backupOfA = state.backupCoordinator();

        TaskRunner::run(auth.signOut());
        QTRY_COMPARE(state.rootView(), RootView::SignIn);
        QVERIFY(!state.viewModel() && !state.cardStore() && !state.coordinator() && !state.backupCoordinator());
        QVERIFY(backupOfA.isNull());
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
        QVERIFY(state.backupCoordinator() && state.backupCoordinator() != backupOfA.data());
        QCOMPARE(state.backupCoordinator()->status(), BackupCoordinator::Status::Idle);
    }

    // A user id that cannot name a store fails the same way at every launch: the session is
    // signed out with a notice for the sign-in view, never left on the loading screen.
    void refusedUserIdSignsOutWithANotice_data()
    {
        QTest::addColumn<QString>("userId");
        QTest::addColumn<bool>("atLaunch");
        QTest::newRow("../../x, stored") << QStringLiteral("../../x") << true;
        QTest::newRow("300 characters, stored") << QString(300, u'a') << true;
        QTest::newRow("../../x, signing in") << QStringLiteral("../../x") << false;
    }

    void refusedUserIdSignsOutWithANotice()
    {
        QFETCH(QString, userId);
        QFETCH(bool, atLaunch);
        ShellFixture fx;
        AuthSession refused = fx.issuedSession(QStringLiteral("a@example.com"));
        refused.userId = userId;
        if (atLaunch) {
            fx.store(refused);
        } else {
            const QJsonObject user{{"id", userId}, {"email", "a@example.com"}};
            fx.server.enqueueReply(QStringLiteral("/auth/v1/token?grant_type=password"),
                                   HttpFake::Reply::json(200, QJsonObject{{"access_token", refused.accessToken},
                                                                          {"refresh_token", refused.refreshToken},
                                                                          {"token_type", "bearer"},
                                                                          {"expires_in", 3600},
                                                                          {"user", user}}));
        }
        AuthService &auth = fx.startAuth();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^StoreContainer init failed: ")));
        AppState state(fx.dependencies());
        RootViewLog log(state);
        if (!atLaunch) {
            QTRY_COMPARE(state.rootView(), RootView::SignIn);
            TaskRunner::run(auth.signIn(QStringLiteral("a@example.com"), QStringLiteral("secret-1")));
        }

        QTRY_VERIFY(!auth.isSignedIn() && state.rootView() == RootView::SignIn);
        QCOMPARE(log.views.last(), RootView::SignIn);
        QVERIFY(!state.signInNotice().isEmpty());
        QVERIFY(!fx.storedItem());
        QVERIFY(!state.configuredUserId());
        QCOMPARE(fx.sources->made, 0);
        QVERIFY(QDir(fx.dataFolder()).entryList(QDir::Files).isEmpty());

        // Another account signs in: its graph is built and the notice is gone.
        fx.server.auth().addUser(QStringLiteral("b@example.com"), QStringLiteral("secret-2"));
        TaskRunner::run(auth.signIn(QStringLiteral("b@example.com"), QStringLiteral("secret-2")));
        QTRY_COMPARE(state.rootView(), RootView::Player);
        QCOMPARE(state.configuredUserId(), auth.currentUserId());
        QVERIFY(state.signInNotice().isEmpty());
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

        fx.sources->latest.send(demoSongTrack(3));
        QTRY_COMPARE(fx.server.count(QStringLiteral("/api/track")), 1);
        QTRY_COMPARE(state.rootView(), RootView::SignIn);
        QVERIFY(!state.viewModel());
        QTRY_VERIFY(model.isNull());
        QCOMPARE(fx.sources->stopped, 1);
        QCOMPARE(fx.sources->destroyed, 1);
        QVERIFY(!fx.storedSession());
    }

    // The playing song's lyrics as the backend served them: the restored library's own, or other.
    void restoreHooksRunAroundTheImportInOrder_data()
    {
        QTest::addColumn<QString>("servedLyrics");
        QTest::addColumn<std::optional<LyricsSource>>("badgeAfter");
        QTest::newRow("the restored lyrics are those shown: the badge stays")
            << QStringLiteral("[00:01.00]Amazing grace\n[00:04.00]How sweet the sound\n")
            << std::optional<LyricsSource>(LyricsSource::lrclib);
        QTest::newRow("other lyrics restored: they come from the library")
            << QStringLiteral("[00:01.00]Amazing grace\n") << std::optional<LyricsSource>(LyricsSource::cache);
    }
    // Around the import: the session is quieted first (story closed and cleared while the store
    // still holds the old library), then the library is replaced, then the playing song is
    // loaded again from it, mid-song: its Now list stays on the card lit at the position.
    void restoreHooksRunAroundTheImportInOrder()
    {
        QFETCH(QString, servedLyrics);
        QFETCH(std::optional<LyricsSource>, badgeAfter);
        ShellFixture fx;
        serveDemoSong(fx.server);
        fx.server.setReply(QStringLiteral("/api/track"),
                           HttpFake::Reply::json(200, QJsonObject{{"lyrics", servedLyrics}, {"source", "lrclib"},
                                                                  {"songKey", demoKey}, {"language", "en"}}));
        fx.server.setReply(QStringLiteral("/api/backup"), HttpFake::Reply::text(200, demoBackup, "application/json"));
        fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        fx.startAuth();
        AppState state(fx.dependencies());
        QTRY_COMPARE(state.rootView(), RootView::Player);
        state.rootViewShown(RootView::Player);
        PlayerViewModel *vm = state.viewModel();
        CardStore *store = state.cardStore();
        BackupCoordinator *backup = state.backupCoordinator();
        NowViewController now;
        now.setVm(vm);
        now.setCardStore(store);
        now.setCardLighting(state.cardLighting());
        now.setClocks(state.clocks());
        now.componentComplete();
        now.setViewportHeight(600);

        fx.sources->latest.send(demoSongTrack(5));
        QTRY_COMPARE(vm->cards().size(), 1);
        QCOMPARE(vm->currentSource(), std::optional<LyricsSource>(LyricsSource::lrclib));
        QTRY_VERIFY(vm->currentStory().has_value());
        vm->setIsStoryModalOpen(true);

        QStringList log;
        const auto storedCards = [store] {
            SongRecord *record = store->record(demoKey);
            return record ? int(record->cards().size()) : -1;
        };
        connect(vm, &PlayerViewModel::isStoryModalOpenChanged, this, [&] {
            if (!vm->isStoryModalOpen())
                log << QStringLiteral("quiet:%1").arg(storedCards());
        });
        connect(backup, &BackupCoordinator::statusChanged, this, [&] {
            if (backup->status() == BackupCoordinator::Status::RestoreSucceeded)
                log << QStringLiteral("restored:%1").arg(storedCards());
        });
        connect(vm, &PlayerViewModel::cardsChanged, this, [&] {
            if (vm->cards().size() == 2)
                log << QStringLiteral("reloaded");
        });

        QSignalSpy scrolls(&now, &NowViewController::scrollToSlotRequested);
        backup->startRestore();
        QTRY_COMPARE(log, (QStringList{"quiet:1", "restored:2", "reloaded"}));
        QVERIFY(!vm->isLoadingLyrics() && !vm->isLoadingCards());
        for (const LearnedCardVM &card : vm->cards())
            QVERIFY(card.learned);
        QCOMPARE(fx.server.count(QStringLiteral("/api/cards")), 1); // the restored cards are used
        QCOMPARE(vm->currentSource(), badgeAfter);
        // At 0:05 the second restored card is lit; the list's last scroll went to it, centred.
        QTRY_VERIFY(now.activeSlotIdText().startsWith(QStringLiteral("restored two")));
        QTRY_VERIFY(!scrolls.isEmpty() && scrolls.constLast().at(0).toString() == now.activeSlotIdText());
        QVERIFY(!scrolls.constLast().at(1).toBool());
    }

    // A window's write that finds its song gone (the pipeline removed it after the tap) is not
    // dropped: the application's toast says so.
    void refusedWindowWriteShowsAToast()
    {
        ShellFixture fx;
        serveDemoSong(fx.server);
        fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        fx.startAuth();
        AppState state(fx.dependencies());
        QTRY_COMPARE(state.rootView(), RootView::Player);
        state.rootViewShown(RootView::Player);
        fx.sources->latest.send(demoSongTrack(3));
        QTRY_COMPARE(state.viewModel()->cards().size(), 1);
        CardStore *store = state.cardStore();
        QTRY_VERIFY(store->record(demoKey));

        [[maybe_unused]] QCoro::Task<void> removing = store->backgroundWriter()->deleteSong(demoKey);
        store->requestToggleFavorite(store->record(demoKey)); // queued behind the removal
        QTRY_COMPARE(state.toastCenter()->currentText(), QStringLiteral("操作失败：这首歌已不在学习库中"));
    }

    // The document's time is the injected wall clock's; the status shows the size the server
    // reported, not the length sent.
    void backupStampsTheInjectedClock()
    {
        ShellFixture fx;
        fx.clock.setNow(QDateTime(QDate(2025, 3, 4), QTime(5, 6, 7, 890), Qt::UTC));
        fx.server.setReply(QStringLiteral("/api/backup"), HttpFake::Reply::json(200, QJsonObject{{"sizeBytes", 1234}}));
        fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        fx.startAuth();
        AppState state(fx.dependencies());
        QTRY_COMPARE(state.rootView(), RootView::Player);

        state.backupCoordinator()->startBackup();
        QTRY_COMPARE(state.backupCoordinator()->status(), BackupCoordinator::Status::BackupSucceeded);
        QCOMPARE(state.backupCoordinator()->sizeBytes(), qint64(1234));
        const QList<HttpFake::Request> uploads = fx.server.requests(QStringLiteral("/api/backup"));
        QCOMPARE(uploads.size(), 1);
        QCOMPARE(uploads.first().method, QByteArray("PUT"));
        const QJsonObject document = QJsonDocument::fromJson(uploads.first().body).object();
        QCOMPARE(document.value("exportedAt").toString(), QStringLiteral("2025-03-04T05:06:07Z"));
    }

    void signOutDuringRestoreImportsNothing_data()
    {
        QTest::addColumn<bool>("throughTheService");
        QTest::newRow("signed out through the service") << true;
        // The rest of the graph is deleted on a later turn of the event loop; the restore does
        // not wait for that to stop. (Called from here, outside any event, the deletion waits
        // until the test returns: processEvents() alone never runs it.)
        QTest::newRow("graph not yet deleted when the answer arrives") << false;
    }

    // A sign-out while the download is under way drops the coordinator at once: the document
    // that arrives afterwards imports nothing, and no hook runs.
    void signOutDuringRestoreImportsNothing()
    {
        QFETCH(bool, throughTheService);
        ShellFixture fx;
        fx.server.setReply(QStringLiteral("/api/backup"), HttpFake::Reply::text(200, demoBackup, "application/json"));
        fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        AuthService &auth = fx.startAuth();
        AppState state(fx.dependencies());
        QTRY_COMPARE(state.rootView(), RootView::Player);
        state.rootViewShown(RootView::Player);
        const QString path = state.storePath();
        QPointer<BackupCoordinator> backup = state.backupCoordinator();

        // The download is sent; its answer can only arrive on a later turn, after the sign-out.
        auto restoring = TaskRunner::start(backup->restore());
        std::shared_ptr<AsyncOutcome<void>> signingOut;
        if (throughTheService)
            signingOut = TaskRunner::start(auth.signOut());
        else
            state.resetForSignOut();
        QVERIFY(TaskRunner::waitUntilDone(restoring));
        restoring->take();
        QCOMPARE(fx.server.count(QStringLiteral("/api/backup")), 1);
        QCOMPARE(storedDemoCards(path), -1);
        QVERIFY(backup.isNull());
        QVERIFY(!state.viewModel());
        if (signingOut)
            QVERIFY(TaskRunner::waitUntilDone(signingOut));
    }

    void anotherUsersSessionGetsItsOwnGraph_data()
    {
        QTest::addColumn<bool>("stored");
        // A graph already stands for another user when the stored session's read ends.
        QTest::newRow("stored session of another user") << true;
        // Signed in as another user over the session, with no sign-out between.
        QTest::newRow("another user signs in") << false;
    }

    void anotherUsersSessionGetsItsOwnGraph()
    {
        QFETCH(bool, stored);
        ShellFixture fx;
        fx.store(fx.issuedSession(stored ? QStringLiteral("b@example.com") : QStringLiteral("a@example.com")));
        fx.secrets->setDelay(std::chrono::milliseconds(100));
        AuthService &auth = fx.startAuth();
        AppState state(fx.dependencies());
        if (stored)
            state.setup(QStringLiteral("someone-else"));
        else
            QTRY_COMPARE(state.rootView(), RootView::Player);
        QVERIFY(state.configuredUserId());
        QPointer<PlayerViewModel> first = state.viewModel();

        if (!stored) {
            fx.server.auth().addUser(QStringLiteral("b@example.com"), QStringLiteral("secret-2"));
            TaskRunner::run(auth.signIn(QStringLiteral("b@example.com"), QStringLiteral("secret-2")));
        }
        const std::optional<QString> userB = fx.server.auth().user(QStringLiteral("b@example.com"))->id;
        QTRY_COMPARE(state.configuredUserId(), userB);
        QCOMPARE(state.configuredUserId(), auth.currentUserId());
        QCOMPARE(QFileInfo(state.storePath()).fileName(), QStringLiteral("default-%1-en.store").arg(*userB));
        QVERIFY(state.viewModel() && state.viewModel() != first.data());
        QCOMPARE(fx.sources->made, 2);
        QTRY_COMPARE(state.rootView(), RootView::Player);
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
