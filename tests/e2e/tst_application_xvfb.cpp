// The whole application, as a new user meets it, under a virtual X display: the shell in this
// process on a private session bus, the local server and mpv with mpv-mpris playing a
// demo song. The user registers through the sign-in view (real clicks and key presses), the song
// reaches the screen and the store with one request of each kind, Ctrl+, and "退出登录" sign out
// with no reader process left, and signing in again shows the song from the store. Also: the
// executable and scripts/run.sh end cleanly on SIGINT, and screenshots of every screen go to
// build/screenshots/shell/.

#include "ChildProcess.h"
#include "DemoApp.h"
#include "ShellFixture.h"
#include "WindowDriver.h"

#include "app/ApplicationShell.h"
#include "backend/RemoteAPIConfig.h"
#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "session/player/PlayerViewModel.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>

using namespace WindowDriver;

namespace {

const QString appPath = QStringLiteral(CANTORELLA_BINARY_DIR "/src/app/cantorella");
const QString screenshots = QStringLiteral(CANTORELLA_BINARY_DIR "/screenshots/shell");
const QString runScript = QStringLiteral(CANTORELLA_TEST_DATA_DIR "/../../scripts/run.sh");
const QString email = QStringLiteral("listener@example.com");
const QString password = QStringLiteral("secret-password-1");

// Living (not zombie) processes, by id, whose field `field` of /proc/<pid>/stat equals `value`:
// 4 = parent id, 5 = process group.
QList<qint64> livingProcesses(int field, qint64 value)
{
    QList<qint64> found;
    QDirIterator it(QStringLiteral("/proc"));
    while (it.hasNext()) {
        bool isPid = false;
        const qint64 pid = QFileInfo(it.next()).fileName().toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid pgrp …": comm may hold spaces, so split after its ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 3 && rest.at(0) != "Z" && rest.at(field - 3).toLongLong() == value)
            found << pid;
    }
    return found;
}

QString commandOf(qint64 pid)
{
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return cmdline.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(cmdline.readAll().replace('\0', ' ')) : QString();
}

int readersRunning()
{
    int count = 0;
    for (qint64 pid : livingProcesses(4, QCoreApplication::applicationPid()))
        count += commandOf(pid).contains(QStringLiteral("nowplaying-reader"));
    return count;
}

} // namespace

class TestApplication : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateSessionBus> m_bus;
    demo::Playback m_playback;
    QUrl m_base;
    // Answered requests of `path` in the server's access log ("<time> POST /api/cards 200 3ms 585B").
    int requestCount(const QString &path)
    {
        const QRegularExpression line(QStringLiteral("^\\S+ POST %1 200 ").arg(QRegularExpression::escape(path)),
                                      QRegularExpression::MultilineOption);
        int count = 0;
        for (auto matches = line.globalMatch(QString::fromUtf8(m_playback.server().log())); matches.hasNext(); matches.next())
            ++count;
        return count;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(appPath), qPrintable(appPath));
        const QString missing = demo::missingTool();
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
        for (const char *tool : {"xvfb-run", "dbus-run-session"})
            QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(), tool);
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "run on an X display (support/on-own-display.sh)");
        m_bus = std::make_unique<PrivateSessionBus>();
        QVERIFY(m_bus->isRunning());
        m_bus->exportToEnvironment();
        qputenv("CANTORELLA_NOWPLAYING_READER", demo::readerPath.toLocal8Bit());
        QVERIFY(m_playback.makeSong(QStringLiteral("demo.ogg"), QStringLiteral("Amazing Grace"),
                                    QStringLiteral("Traditional"), 120));

        QVERIFY(m_playback.startServer());
        m_base = m_playback.base();
    }

    void newUserRegistersAndThePlayerFollowsTheSong()
    {
        auto secrets = std::make_shared<InMemorySecretStore>();
        auto http = std::make_shared<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
        AuthService auth(SupabaseConfig{m_base, demo::anonKey},
                         KeychainStore(QStringLiteral("com.cantorella.Cantorella.auth"),
                                       QStringLiteral("supabase-session"), secrets),
                         http, WallClock::system());
        QTemporaryDir data;
        QSettings settings(data.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        AppStateDependencies deps;
        deps.auth = &auth;
        deps.dataFolder = data.filePath(QStringLiteral("store"));
        deps.settings = &settings;
        deps.http = http.get();
        deps.apiBaseURL = m_base;
        ApplicationShell shell(deps);
        QQuickWindow *window = shell.mainWindow();
        QVERIFY(window);
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_COMPARE(shownView(window), QStringLiteral("signInView"));

        // Register: the server confirms at once (confirmation is off by default), so the session arrives with the answer.
        QVERIFY(click(window, QStringLiteral("signIn.modeSwitch")));
        QTRY_COMPARE(item(window, QStringLiteral("signIn.submit"))->property("text").toString(), QStringLiteral("注册"));
        QVERIFY(type(window, QStringLiteral("signIn.email"), email));
        QVERIFY(type(window, QStringLiteral("signIn.password"), password));
        QVERIFY(click(window, QStringLiteral("signIn.submit")));
        QTRY_COMPARE_WITH_TIMEOUT(shownView(window), QStringLiteral("playerView"), 10000);

        QVERIFY(m_playback.play(QStringLiteral("demo.ogg")));
        PlayerViewModel *vm = shell.appState()->viewModel();
        QVERIFY(vm);
        QTRY_VERIFY_WITH_TIMEOUT(vm->track() && vm->track()->title == QStringLiteral("Amazing Grace"), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!vm->cards().isEmpty() && vm->currentStory().has_value() && !vm->isLoadingLyrics()
                                     && !vm->isLoadingCards(),
                                 20000);
        QVERIFY(!vm->lyricLines().isEmpty());
        QTRY_COMPARE(item(window, QStringLiteral("compactPanel.title"))->property("text").toString(),
                     QStringLiteral("Amazing Grace"));
        QCOMPARE(requestCount(QStringLiteral("/api/track")), 1);
        QCOMPARE(requestCount(QStringLiteral("/api/cards")), 1);
        QCOMPARE(requestCount(QStringLiteral("/api/story")), 1);

        // The store file, through a connection of its own.
        const QString storePath = shell.appState()->storePath();
        QCOMPARE(QFileInfo(storePath).fileName(),
                 QStringLiteral("default-%1-en.store").arg(*auth.currentUserId()));
        {
            CardStoreActor reader(StoreContainer::open(storePath));
            QTRY_VERIFY(QCoro::waitFor(reader.snapshot(QStringLiteral("traditional|amazing grace")))
                            .value_or(SongRecordSnapshot{}).storyArticle.has_value());
            const auto record = QCoro::waitFor(reader.snapshot(QStringLiteral("traditional|amazing grace")));
            QCOMPARE(record->cards.size(), vm->cards().size());
            QVERIFY(!record->lyrics.isEmpty());
        }

        // The idle states have faded out (a shot taken mid-crossfade shows both).
        QTRY_VERIFY(!item(window, QStringLiteral("compactPanel.idle"))->isVisible());
        QTRY_VERIFY(!item(window, QStringLiteral("now.idle"))->isVisible());
        QVERIFY(screenshot(window, screenshots, QStringLiteral("player")));
        resize(window, 680, 800);
        QVERIFY(screenshot(window, screenshots, QStringLiteral("player")));
        resize(window, 800, 950);

        // A toast from anywhere floats over the bottom of the player.
        ToastCenter *toasts = shell.appState()->toastCenter();
        QQuickItem *capsule = item(window, QStringLiteral("toastView.capsule"));
        QVERIFY(capsule);
        toasts->show(QStringLiteral("已复制 / Copied"), 1.5);
        QTRY_VERIFY(capsule->opacity() > 0.9); // the toast's entrance
        QVERIFY(screenshot(window, screenshots, QStringLiteral("toast")));

        // Ctrl+, then "退出登录" in the settings window.
        QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
        QQuickWindow *settingsWindow = shell.settingsWindow();
        QTRY_VERIFY(settingsWindow && settingsWindow->isExposed());
        QTRY_COMPARE(item(settingsWindow, QStringLiteral("settings.email"))->property("text").toString(), email);
        QVERIFY(screenshot(settingsWindow, screenshots, QStringLiteral("settings-signed-in")));
        QVERIFY(click(settingsWindow, QStringLiteral("settings.signOut")));
        QTRY_COMPARE(shownView(window), QStringLiteral("signInView"));
        QTRY_COMPARE(item(settingsWindow, QStringLiteral("settings.email"))->property("text").toString(),
                     QStringLiteral("未登录"));
        QVERIFY(screenshot(settingsWindow, screenshots, QStringLiteral("settings-signed-out")));
        QTRY_COMPARE_WITH_TIMEOUT(readersRunning(), 0, 7000);
        settingsWindow->close();

        // Sign in again: the song comes from the store, no new cards request.
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(type(window, QStringLiteral("signIn.email"), email));
        QVERIFY(type(window, QStringLiteral("signIn.password"), password));
        QVERIFY(click(window, QStringLiteral("signIn.submit")));
        QTRY_COMPARE_WITH_TIMEOUT(shownView(window), QStringLiteral("playerView"), 10000);
        vm = shell.appState()->viewModel();
        QTRY_VERIFY_WITH_TIMEOUT(vm->track() && !vm->cards().isEmpty() && !vm->isLoadingCards(), 15000);
        QCOMPARE(requestCount(QStringLiteral("/api/cards")), 1);

        // Quitting while the reader polls leaves no child behind.
        shell.shutdown();
        QTRY_COMPARE_WITH_TIMEOUT(readersRunning(), 0, 7000);
        m_playback.stopPlayer();
    }

    void signInScreens()
    {
        // The stand-in of the tests (no automatic confirmation) for the error and confirmation looks.
        ShellFixture fx;
        fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QQuickWindow *window = shell.mainWindow();
        QVERIFY(window);
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_COMPARE(shownView(window), QStringLiteral("signInView"));
        QTest::qWait(300);
        for (const QSize size : {QSize(800, 950), QSize(680, 800)}) {
            resize(window, size.width(), size.height());
            QVERIFY(screenshot(window, screenshots, QStringLiteral("signin-login")));
        }

        QVERIFY(type(window, QStringLiteral("signIn.email"), QStringLiteral("not-an-address")));
        QVERIFY(type(window, QStringLiteral("signIn.password"), password));
        QVERIFY(click(window, QStringLiteral("signIn.submit")));
        QTRY_VERIFY(item(window, QStringLiteral("signIn.errorBanner"))->isVisible());
        for (const QSize size : {QSize(800, 950), QSize(680, 800)}) {
            resize(window, size.width(), size.height());
            QVERIFY(screenshot(window, screenshots, QStringLiteral("signin-error")));
        }

        QVERIFY(click(window, QStringLiteral("signIn.modeSwitch")));
        QTRY_COMPARE(item(window, QStringLiteral("signIn.submit"))->property("text").toString(), QStringLiteral("注册"));
        QVERIFY(type(window, QStringLiteral("signIn.email"), QStringLiteral("@example.com")));
        QVERIFY(click(window, QStringLiteral("signIn.submit")));
        QTRY_VERIFY(item(window, QStringLiteral("signIn.confirmation"))->isVisible());
        for (const QSize size : {QSize(800, 950), QSize(680, 800)}) {
            resize(window, size.width(), size.height());
            QVERIFY(screenshot(window, screenshots, QStringLiteral("signin-confirmation")));
        }
    }

    void executableQuitsOnSigint()
    {
        QTemporaryDir home;
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("CANTORELLA_API_BASE_URL"), m_base.toString());
        env.insert(QStringLiteral("CANTORELLA_AUTH_BASE_URL"), m_base.toString());
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::MergedChannels);
        ChildProcess::diesWithTest(app);
        app.start(appPath, {});
        QVERIFY(app.waitForStarted(5000));
        QByteArray log;
        QTRY_VERIFY_WITH_TIMEOUT((log += app.readAll(), log.contains("AppState.configureIfNeeded()")), 15000);

        ::kill(pid_t(app.processId()), SIGINT);
        QVERIFY(app.waitForFinished(10000));
        log += app.readAll();
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY2(log.contains("Signal 2 received — quitting"), log.constData());
    }

    void runScriptWithoutDisplaySaysSo()
    {
        QProcess script;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        script.setProcessEnvironment(env);
        script.setProcessChannelMode(QProcess::MergedChannels);
        ChildProcess::diesWithTest(script);
        script.start(QStringLiteral("bash"), {runScript});
        QVERIFY(script.waitForFinished(10000));
        QVERIFY(script.exitCode() != 0);
        QVERIFY2(script.readAll().contains("no graphical display"), "the message names the missing display");
    }

    void runScriptEndsEverythingOnCtrlC()
    {
        // In a process group of its own, as a terminal's foreground job; Ctrl+C reaches the group.
        // It runs on this test's build folder as the build left it (never the source tree's
        // build/): it installs and builds nothing, and finds the demo songs the build made.
        QProcess script;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CANTORELLA_BUILD_DIR"), QStringLiteral(CANTORELLA_BINARY_DIR));
        script.setProcessEnvironment(env);
        script.setProcessChannelMode(QProcess::MergedChannels);
        QFile appLog(QStringLiteral(CANTORELLA_BINARY_DIR "/demo/logs/cantorella.log"));
        appLog.remove();
        script.start(QStringLiteral("setsid"), {QStringLiteral("bash"), runScript, QStringLiteral("--no-build")});
        QVERIFY(script.waitForStarted(5000));
        const qint64 group = script.processId();
        // The script's children are in its group, not ours: a failed check below ends them too.
        const auto endGroup = qScopeGuard([group] { ::kill(-pid_t(group), SIGKILL); });
        QByteArray log;
        const auto fileText = [](const QString &path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        // What the script said, and how the server's log ends: a failure names its own cause.
        const auto scriptReport = [&] {
            log += script.readAll();
            return QByteArray("script output:\n") + log + "\nserver log ends:\n"
                + fileText(QStringLiteral(CANTORELLA_BINARY_DIR "/demo/logs/server.log")).right(1500);
        };
        // The application writes its log to a file and the script says where. A script that ends
        // first has failed: no reason to wait on.
        QDeadlineTimer started(240000);
        while (!fileText(appLog.fileName()).contains("AppState.configureIfNeeded()")) {
            QVERIFY2(script.state() == QProcess::Running && !started.hasExpired(), scriptReport().constData());
            script.waitForReadyRead(200);
            log += script.readAll();
        }
        QVERIFY2(log.contains(appLog.fileName().toUtf8()), scriptReport().constData());
        const QList<qint64> running = livingProcesses(5, group);
        QStringList commands;
        for (qint64 pid : running)
            commands << commandOf(pid);
        QVERIFY2(commands.filter(QStringLiteral("src/server/cantorella-server")).size() == 1, qPrintable(commands.join(u'\n')));
        QVERIFY2(commands.filter(QRegularExpression(QStringLiteral("^mpv "))).size() == 1, qPrintable(commands.join(u'\n')));
        QVERIFY2(commands.filter(QStringLiteral("src/app/cantorella")).size() == 1, qPrintable(commands.join(u'\n')));

        ::kill(-pid_t(group), SIGINT);
        QVERIFY2(script.waitForFinished(30000), scriptReport().constData());
        QTRY_COMPARE_WITH_TIMEOUT(livingProcesses(5, group), QList<qint64>(), 5000);
        QCOMPARE(script.exitStatus(), QProcess::NormalExit);
        QVERIFY2(script.exitCode() == 130, scriptReport().right(3000).constData());
    }
};

CANTORELLA_APP_TEST_MAIN(TestApplication)

#include "tst_application_xvfb.moc"
