// The main window offscreen, on fakes: every root view loads without a single QML warning, the
// window is built while the stored session is read and shows no wrong root view meanwhile,
// Ctrl+, opens the settings window in every state, and signing out and in again swaps the views.
// With a demo song playing, every screen of the player (both columns, each study tab, the story
// overlay, the share sheet) comes up without a warning, and signing out closes an open share sheet.

#include "OtherThreadWarnings.h"
#include "ShellFixture.h"

#include "app/ApplicationShell.h"
#include "session/player/PlayerViewModel.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QQmlApplicationEngine>
#include <QSignalSpy>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTest>

namespace {

// Known noise of the offscreen platform; anything else a test prints as a warning fails it.
const QRegularExpression anyUnexpectedWarning(
    QStringLiteral("^(?!.*(failed to acquire GL context to resolve capabilities"
                   "|This plugin does not support raise\\(\\))).*$"),
    QRegularExpression::DotMatchesEverythingOption);

// The watchdog's report of a GUI thread that did not answer for seconds: on a busy machine that
// says more about the machine than about the window.
const QRegularExpression hangReport(QStringLiteral("^Wrote render-loop diagnostics"));

QString shownView(ApplicationShell &shell)
{
    QQuickWindow *window = shell.mainWindow();
    auto *loader = window ? window->findChild<QQuickItem *>(QStringLiteral("rootView")) : nullptr;
    QQuickItem *item = loader ? loader->property("item").value<QQuickItem *>() : nullptr;
    return item ? item->objectName() : QString();
}

QQuickItem *named(QQuickWindow *window, const QString &objectName)
{
    return window ? window->findChild<QQuickItem *>(objectName) : nullptr;
}

// Items by the start of their names, through the visual tree (a Repeater's rows have no QObject
// parent there).
int countItems(QQuickItem *root, const QString &prefix)
{
    int count = root->objectName().startsWith(prefix);
    for (QQuickItem *child : root->childItems())
        count += countItems(child, prefix);
    return count;
}

QObject *popup(QQuickWindow *window, const QString &objectName)
{
    return window ? window->findChild<QObject *>(objectName) : nullptr;
}

void click(QQuickWindow *window, QQuickItem *target)
{
    QVERIFY(target && target->isVisible());
    QTest::mouseClick(window, Qt::LeftButton, {},
                      target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    // Warnings of the watchdog's thread (and any other) are checked here, on the test's thread.
    // Made once QtTest has installed its own message handler, which it passes the rest on to.
    std::unique_ptr<OtherThreadWarnings> otherThreads;

private slots:
    void initTestCase() { otherThreads = std::make_unique<OtherThreadWarnings>(); }
    void cleanupTestCase() { otherThreads.reset(); }
    void init() { QTest::failOnWarning(anyUnexpectedWarning); }
    void cleanup()
    {
        const QStringList failures = otherThreads->takeFailures(hangReport);
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    }

    void withoutSessionShowsSignIn()
    {
        ShellFixture fx;
        fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QVERIFY(shell.mainWindow());
        QCOMPARE(shell.mainWindow()->width(), 800);
        QCOMPARE(shell.mainWindow()->height(), 950);
        QCOMPARE(shell.mainWindow()->minimumSize(), QSize(680, 800));
        QTRY_COMPARE(shownView(shell), QStringLiteral("signInView"));
    }

    // Start-up while the secret store is still reading: the window is built at once and shows
    // its loading view; a stored session then brings the player without a single frame of the
    // sign-in view, and a missing (or unreadable) one the sign-in view, never the player.
    void startupWhileTheStoredSessionIsRead_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("storeFails");
        QTest::addColumn<QString>("finalView");
        QTest::addColumn<QString>("neverShown");
        QTest::newRow("stored session") << true << false << QStringLiteral("playerView") << QStringLiteral("signInView");
        QTest::newRow("no stored session") << false << false << QStringLiteral("signInView") << QStringLiteral("playerView");
        QTest::newRow("no secret service") << true << true << QStringLiteral("signInView") << QStringLiteral("playerView");
    }

    void startupWhileTheStoredSessionIsRead()
    {
        QFETCH(bool, stored);
        QFETCH(bool, storeFails);
        QFETCH(QString, finalView);
        QFETCH(QString, neverShown);
        ShellFixture fx;
        if (stored)
            fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        if (storeFails) {
            fx.secrets->setFailure(SecretStore::Status::Unavailable);
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Secret Service unavailable")));
        }
        fx.secrets->setDelay(std::chrono::milliseconds(400));
        AuthService &auth = fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QQuickWindow *window = shell.mainWindow();
        QVERIFY(window);
        // Built while the read goes on, not after it.
        QVERIFY(!auth.hasLoadedStoredSession());
        QCOMPARE(shownView(shell), QStringLiteral("loadingView"));
        QStringList framesShowing;
        connect(window, &QQuickWindow::frameSwapped, this, [&] { framesShowing << shownView(shell); });
        QVERIFY(QTest::qWaitForWindowExposed(window));

        QTRY_COMPARE(shownView(shell), finalView);
        QTRY_VERIFY(framesShowing.contains(finalView));
        QVERIFY2(framesShowing.contains(QStringLiteral("loadingView")), qPrintable(framesShowing.join(u',')));
        QVERIFY2(!framesShowing.contains(neverShown), qPrintable(framesShowing.join(u',')));
        QCOMPARE(auth.isSignedIn(), finalView == u"playerView");
    }

    void settingsOpenFromEveryState()
    {
        ShellFixture fx;
        fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        fx.secrets->setDelay(std::chrono::milliseconds(300));
        AuthService &auth = fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QQuickWindow *window = shell.mainWindow();
        QQuickWindow *settings = shell.settingsWindow();
        QVERIFY(window && settings);
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(!settings->isVisible());
        // Its controls are built when it first opens.
        QVERIFY(!named(settings, QStringLiteral("settings.signOut")));

        const auto openSettings = [&] {
            settings->close();
            QTRY_VERIFY(!settings->isVisible());
            window->requestActivate();
            QTRY_VERIFY(window->isActive());
            QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
            QTRY_VERIFY(settings->isVisible());
        };

        QCOMPARE(shownView(shell), QStringLiteral("loadingView"));
        openSettings();
        QTRY_COMPARE(shownView(shell), QStringLiteral("playerView"));
        openSettings();
        // Closed from the keyboard while its sign-out button has the focus, it keeps no control
        // focused: a screen reader reads the focus of every window, seen or not.
        QQuickItem *signOut = named(settings, QStringLiteral("settings.signOut"));
        settings->requestActivate();
        QTRY_COMPARE(QGuiApplication::focusWindow(), settings);
        QTest::keyClick(settings, Qt::Key_Tab);
        QTRY_VERIFY(signOut->hasActiveFocus());
        QTest::keyClick(settings, Qt::Key_Escape);
        QTRY_VERIFY(!settings->isVisible());
        QVERIFY(!signOut->hasActiveFocus());
        openSettings();
        // Pressed again while open: stays open.
        QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
        QVERIFY(settings->isVisible());
        TaskRunner::run(auth.signOut());
        QTRY_COMPARE(shownView(shell), QStringLiteral("signInView"));
        openSettings();
        QVERIFY(settings->minimumWidth() >= 420 && settings->minimumHeight() >= 300);

        // Closing the main window ends the application even with the settings window open.
        QSignalSpy quit(shell.engine(), &QQmlEngine::quit);
        window->close();
        QCOMPARE(quit.count(), 1);
    }

    // Escape and Ctrl+W close the settings window, Ctrl+W closes the main window (which quits),
    // Ctrl+Q quits from either window; keys that are no shortcut of the focused window change
    // nothing.
    void keyboardShortcuts_data()
    {
        QTest::addColumn<bool>("inSettings");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("settingsStayOpen");
        QTest::addColumn<bool>("quits");
        const int ctrl = Qt::ControlModifier;
        QTest::newRow("Escape in settings") << true << int(Qt::Key_Escape) << 0 << false << false;
        QTest::newRow("Ctrl+W in settings") << true << int(Qt::Key_W) << ctrl << false << false;
        QTest::newRow("W in settings") << true << int(Qt::Key_W) << 0 << true << false;
        QTest::newRow("Ctrl+Q in settings") << true << int(Qt::Key_Q) << ctrl << true << true;
        QTest::newRow("Ctrl+Q in the main window") << false << int(Qt::Key_Q) << ctrl << true << true;
        QTest::newRow("Escape in the main window") << false << int(Qt::Key_Escape) << 0 << true << false;
        QTest::newRow("Ctrl+W in the main window") << false << int(Qt::Key_W) << ctrl << true << true;
    }
    void keyboardShortcuts()
    {
        QFETCH(bool, inSettings);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, settingsStayOpen);
        QFETCH(bool, quits);
        ShellFixture fx;
        fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QQuickWindow *window = shell.mainWindow();
        QQuickWindow *settings = shell.settingsWindow();
        QVERIFY(window && settings);
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_COMPARE(shownView(shell), QStringLiteral("signInView"));
        QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
        QTRY_VERIFY(settings->isVisible());
        // The settings window stands over the main one: the main window counts as active while
        // the settings window has the focus, so wait for the focus itself.
        QQuickWindow *focused = inSettings ? settings : window;
        focused->requestActivate();
        QTRY_COMPARE(QGuiApplication::focusWindow(), focused);

        QSignalSpy quit(shell.engine(), &QQmlEngine::quit);
        QTest::keyClick(focused, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTRY_COMPARE(settings->isVisible(), settingsStayOpen);
        QTest::qWait(50);
        QCOMPARE(settings->isVisible(), settingsStayOpen);
        QCOMPARE(quit.count(), quits ? 1 : 0);
        // Only Ctrl+W in it closes the main window; Ctrl+Q quits without closing it first.
        QCOMPARE(window->isVisible(), inSettings || key != Qt::Key_W);
    }

    void everyPlayerScreenLoadsWithASong()
    {
        ShellFixture fx;
        AuthService &auth = fx.signedInWithDemoSong();
        ApplicationShell shell(fx.dependencies());
        QQuickWindow *window = showPlayingDemoSong(fx, shell);
        QVERIFY(window);
        PlayerViewModel *vm = shell.appState()->viewModel();
        QTRY_VERIFY_WITH_TIMEOUT(!vm->cards().isEmpty() && vm->currentStory().has_value(), 10000);

        // Both columns: the lyrics panel 360 wide, the study panel the rest, on its Now tab.
        QTRY_COMPARE(named(window, QStringLiteral("compactPanel.title"))->property("text").toString(),
                     QStringLiteral("Amazing Grace"));
        QQuickItem *panel = named(window, QStringLiteral("studyPanel"));
        QVERIFY(panel);
        QCOMPARE(named(window, QStringLiteral("mainView.lyricsPanel"))->width(), 360.0);
        QCOMPARE(panel->width(), window->width() - 360.0);
        QTRY_VERIFY(named(window, QStringLiteral("now.list")) && named(window, QStringLiteral("now.list"))->isVisible());
        QObject *rows = named(window, QStringLiteral("studyPanel.now"))->property("controller").value<QObject *>()
                            ->property("rows").value<QObject *>();
        QTRY_VERIFY(rows->property("count").toInt() > 0);
        QTRY_COMPARE(countItems(window->contentItem(), QStringLiteral("now.row.")),
                     rows->property("count").toInt());

        // Every library tab, then back to Now.
        QObject *tabs = panel->property("controller").value<QObject *>();
        QVERIFY(tabs);
        for (int tab : {1, 2, 3, 0}) {
            tabs->setProperty("selectedTab", tab);
            QTRY_COMPARE(panel->property("currentTab").value<QQuickItem *>()->objectName(),
                         QStringList({QStringLiteral("studyPanel.now"), QStringLiteral("studyPanel.history"),
                                      QStringLiteral("studyPanel.favorites"), QStringLiteral("studyPanel.mastered")})
                             .at(tab));
        }

        // The story button opens the story over the window; Escape closes it.
        QTRY_VERIFY(named(window, QStringLiteral("storyButton")));
        QTRY_VERIFY(named(window, QStringLiteral("storyButton"))->property("enabled").toBool());

        // The lyrics end above the floating story button at every window size, so no lyric line
        // can sit under it.
        const QSize initialSize = window->size();
        for (const QSize size : {QSize(680, 800), initialSize}) {
            window->resize(size);
            QTRY_COMPARE(window->height(), size.height());
            QQuickItem *lyrics = named(window, QStringLiteral("lyricsView"));
            QQuickItem *button = named(window, QStringLiteral("storyButton"));
            QVERIFY(lyrics && button);
            QTRY_VERIFY2(lyrics->mapToScene(QPointF(0, lyrics->height())).y() <= button->mapToScene(QPointF(0, 0)).y(),
                         qPrintable(QStringLiteral("%1 × %2").arg(size.width()).arg(size.height())));
        }
        click(window, named(window, QStringLiteral("storyButton")));
        QTRY_VERIFY(vm->isStoryModalOpen());
        QTRY_VERIFY(popup(window, QStringLiteral("storyOverlay"))->property("opened").toBool());
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!vm->isStoryModalOpen());

        // A card's share control opens the window's one share sheet.
        QQuickItem *share = nullptr;
        QTRY_VERIFY((share = visibleItem(window->contentItem(), QStringLiteral("glassCard.share"))) && share->isVisible());
        click(window, share);
        QObject *sheet = popup(window, QStringLiteral("shareSheet"));
        QVERIFY(sheet);
        QTRY_VERIFY(sheet->property("opened").toBool());

        // Signing out leaves no share sheet over the sign-in view.
        TaskRunner::run(auth.signOut());
        QTRY_COMPARE(shownView(shell), QStringLiteral("signInView"));
        QTRY_VERIFY(!sheet->property("visible").toBool());
    }

    void signOutAndInAgain()
    {
        ShellFixture fx;
        fx.store(fx.issuedSession(QStringLiteral("a@example.com")));
        AuthService &auth = fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QTRY_COMPARE(shownView(shell), QStringLiteral("playerView"));
        QTRY_COMPARE(fx.sources->started, 1); // the player's appearance started the coordinator

        TaskRunner::run(auth.signOut());
        QTRY_COMPARE(shownView(shell), QStringLiteral("signInView"));
        QCOMPARE(fx.sources->stopped, 1);

        TaskRunner::run(auth.signIn(QStringLiteral("a@example.com"), QStringLiteral("secret-1")));
        QTRY_COMPARE(shownView(shell), QStringLiteral("playerView"));
        QTRY_COMPARE(fx.sources->started, 2);
        QTRY_COMPARE(fx.sources->destroyed, 1);
    }
};

int main(int argc, char *argv[])
{
    ApplicationShell::prepareProcess();
    QApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
