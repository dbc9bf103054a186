// cantorella-cpu-harness: shows what scripts/measure-cpu.sh times, in a window of 800 × 950.
//
//   cantorella-cpu-harness --server URL --view app      the application's main window (lyrics and
//                                                        the Now tab), signed in to the stand-in
//   cantorella-cpu-harness --server URL --view lyrics   the lyrics view alone on the same graph
//   cantorella-cpu-harness --bare FILE.qml [ARGS…]       a plain Qt Quick file (its window is its own,
//                                                        drawn by Qt's default render loop)
//
// The session is signed in programmatically (kept in memory), so no sign-in view is involved.
// "ready" goes to standard output once lyrics lines are on screen (at once for --bare); the
// animation gate follows CANTORELLA_REDUCE_MOTION as in the application. The shown window asks
// for the input focus, as a window a person looks at has it (without focus the animation gate
// stays closed), and every change of QWindow::isActive goes to standard output as
// "window active: true|false". Once a second it writes "frames N", the frames the shown window
// has swapped so far. Diagnostics (ChangeTrace.h): CANTORELLA_HARNESS_TRACE=1 writes what changed
// before each frame; CANTORELLA_HARNESS_HIDE=NAME,… hides items (or turns their layer off);
// CANTORELLA_HARNESS_REDRAW=1 redraws the shown window continuously (what one frame costs).

#include "ChangeTrace.h"
#include "DemoAccount.h"

#include "app/ApplicationShell.h"
#include "core/AppLog.h"
#include "session/player/PlayerViewModel.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <utility>

namespace {

const QSize windowSize(800, 950);

void announceReady()
{
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
}

// Asks for the next frame as soon as one is swapped, so the window draws as fast as its render
// loop lets it: CPU time over frames is then what one frame of an unchanged window costs, with
// little noise (a window at rest draws too few frames to tell).
void redrawContinuously(QQuickWindow *window)
{
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [window] { window->update(); }, Qt::QueuedConnection);
    window->update();
}

// Asks for the input focus for `window` (Xvfb has no window manager: the request is granted
// as it is made), reports each change of its active state and counts its frames.
void focus(QWindow *window)
{
    QObject::connect(window, &QWindow::activeChanged, window, [window] {
        std::fprintf(stdout, "window active: %s\n", window->isActive() ? "true" : "false");
        std::fflush(stdout);
    });
    window->requestActivate();
    if (auto *quick = qobject_cast<QQuickWindow *>(window)) {
        auto *frames = new std::atomic<long long>(0);
        // Swapped on the render thread.
        QObject::connect(quick, &QQuickWindow::frameSwapped, quick, [frames] { ++*frames; }, Qt::DirectConnection);
        auto *report = new QTimer(quick);
        QObject::connect(report, &QTimer::timeout, quick, [frames] {
            std::fprintf(stdout, "frames %lld\n", frames->load());
            std::fflush(stdout);
        });
        QObject::connect(quick, &QObject::destroyed, [frames] { delete frames; });
        report->start(1000);
        if (qEnvironmentVariableIsSet("CANTORELLA_HARNESS_REDRAW"))
            redrawContinuously(quick);
        if (qEnvironmentVariableIsSet("CANTORELLA_HARNESS_TRACE"))
            ChangeTrace::install(quick);
        if (qEnvironmentVariableIsSet("CANTORELLA_HARNESS_HIDE"))
            ChangeTrace::hide(quick, qEnvironmentVariable("CANTORELLA_HARNESS_HIDE").split(QLatin1Char(',')));
    }
}

// The lyrics view alone, given the application graph's objects, under the same animation gate.
const QByteArray lyricsOnlyQml = R"(
import QtQuick
import Cantorella.Design
import Cantorella.Player

Window {
    id: window
    required property var state
    color: Theme.backgroundInk
    visible: true
    MotionPreferences { id: motion }
    LyricsView {
        anchors.fill: parent
        vm: window.state.viewModel
        cardLighting: window.state.cardLighting
        toastCenter: window.state.toastCenter
        clocks: window.state.clocks
        reduceMotion: motion.reduceMotion
    }
}
)";

int runBare(const QString &file)
{
    // As the application: its font, and its first frame logged for start-up timing.
    QGuiApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC")));
    QQmlApplicationEngine engine;
    engine.load(QUrl::fromLocalFile(file));
    if (engine.rootObjects().isEmpty())
        return 1;
    if (auto *window = qobject_cast<QWindow *>(engine.rootObjects().constFirst()))
        focus(window);
    if (auto *quick = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst())) {
        QObject::connect(quick, &QQuickWindow::frameSwapped, quick, [] {
            static bool logged = false;
            if (!std::exchange(logged, true))
                AppLog::signpostEvent("FirstFrame");
        }, Qt::DirectConnection);
    }
    announceReady();
    return QApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    const QByteArrayList setByShell = ApplicationShell::prepareProcess();
    if (std::any_of(argv + 1, argv + argc, [](const char *arg) { return qstrncmp(arg, "--bare", 6) == 0; })) {
        // The plain window keeps Qt's own render loop (a render thread here): on the application's
        // GUI-thread loop its 400 ms scroll draws 4 frames a second instead of the display's rate,
        // and it would no longer be the plain window. It also keeps Qt's window buffers and Mesa's
        // own number of rasterizer threads (Mesa reads it when the application connects to the
        // display, so before the application is made). What the caller chose stays.
        for (const char *name : {"QSG_RENDER_LOOP", "QSG_NO_DEPTH_BUFFER", "QSG_NO_STENCIL_BUFFER", "LP_NUM_THREADS"}) {
            if (setByShell.contains(name))
                qunsetenv(name);
        }
    }
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows the player for CPU measurements."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("server"), QStringLiteral("The stand-in server's address."), QStringLiteral("url")});
    parser.addOption({QStringLiteral("view"), QStringLiteral("app or lyrics."), QStringLiteral("view"), QStringLiteral("app")});
    parser.addPositionalArgument(QStringLiteral("args"), QStringLiteral("Arguments for the --bare file."), QStringLiteral("[ARGS…]"));
    parser.addOption({QStringLiteral("bare"), QStringLiteral("A Qt Quick file to show instead."), QStringLiteral("file")});
    parser.process(app);
    QTextStream err(stderr);

    if (parser.isSet(QStringLiteral("bare"))) {
        return runBare(parser.value(QStringLiteral("bare")));
    }

    const QString view = parser.value(QStringLiteral("view"));
    const QUrl server(parser.value(QStringLiteral("server")));
    if (!server.isValid() || server.isEmpty() || (view != u"app" && view != u"lyrics")) {
        err << "usage: cantorella-cpu-harness --server URL [--view app|lyrics] | --bare FILE.qml\n";
        return 2;
    }

    DemoAccount account;
    if (!account.signIn(server, QStringLiteral("cpu@example.com"))) {
        err << "cantorella-cpu-harness: could not sign in at " << server.toString() << "\n";
        return 1;
    }
    QTemporaryDir data;
    QSettings settings(data.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    AppStateDependencies deps;
    deps.auth = account.auth.get();
    deps.dataFolder = data.filePath(QStringLiteral("store"));
    deps.settings = &settings;
    deps.http = account.http.get();
    deps.apiBaseURL = server;
    ApplicationShell shell(deps);
    QQuickWindow *mainWindow = shell.mainWindow();
    if (!mainWindow)
        return 1;
    mainWindow->resize(windowSize);
    if (view == u"app")
        focus(mainWindow);

    QQmlEngine lyricsEngine;
    lyricsEngine.addImportPath(QStringLiteral("qrc:/"));
    std::unique_ptr<QObject> lyricsWindow;
    AppState *state = shell.appState();
    const auto showLyricsOnly = [&] {
        if (view != u"lyrics" || lyricsWindow || !state->viewModel())
            return;
        mainWindow->hide();
        QQmlComponent component(&lyricsEngine);
        component.setData(lyricsOnlyQml, QUrl(QStringLiteral("qrc:/harness/LyricsOnly.qml")));
        lyricsWindow.reset(component.createWithInitialProperties({{QStringLiteral("state"), QVariant::fromValue(state)}}));
        if (auto *window = qobject_cast<QQuickWindow *>(lyricsWindow.get())) {
            window->resize(windowSize);
            focus(window);
        } else
            err << component.errorString() << "\n";
    };
    QObject::connect(state, &AppState::graphChanged, &app, showLyricsOnly);
    showLyricsOnly();

    // Ready once the playing song's lines are there (and a moment later on screen).
    QTimer poll;
    poll.setInterval(250);
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        PlayerViewModel *vm = state->viewModel();
        if (!vm || vm->lyricLines().isEmpty())
            return;
        poll.stop();
        QTimer::singleShot(1000, &app, announceReady);
    });
    poll.start();

    const int status = QApplication::exec();
    lyricsWindow.reset();
    shell.shutdown();
    return status;
}
