#pragma once

// The whole application in this process for a demo account: signed in on the local server
// (the session kept in memory), with a data folder and settings of its own, its window active
// and showing the player; and the stage around it.

#include "DemoAccount.h"
#include "DemoPlayback.h"
#include "PrivateSessionBus.h"
#include "WindowDriver.h"

#include "app/ApplicationShell.h"

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace demo {

// What the application needs around it to follow a song: a private session bus (exported to this
// process), the now-playing reader, the demo song "grace.ogg" (Amazing Grace, 82 s) and the
// local server.
struct Stage
{
    std::unique_ptr<PrivateSessionBus> bus;
    Playback playback;

    // What is missing or did not start, or "" when everything is ready.
    QString start()
    {
        if (const QString missing = missingTool(); !missing.isEmpty())
            return missing + QStringLiteral(" is missing");
        bus = std::make_unique<PrivateSessionBus>();
        if (!bus->isRunning())
            return QStringLiteral("dbus-daemon did not start");
        bus->exportToEnvironment();
        qputenv("CANTORELLA_NOWPLAYING_READER", readerPath.toLocal8Bit());
        if (!playback.makeSong(QStringLiteral("grace.ogg"), QStringLiteral("Amazing Grace"),
                               QStringLiteral("Traditional"), 82))
            return QStringLiteral("sox made no song");
        if (!playback.startServer())
            return QStringLiteral("the server did not start");
        return {};
    }
};

class SignedInApp
{
public:
    ~SignedInApp() { shutdown(); }

    // Signs `email` in at `base` and builds the shell; true once the window shows the player.
    bool start(const QUrl &base, const QString &email)
    {
        if (!m_account.signIn(base, email))
            return false;
        m_settings = std::make_unique<QSettings>(m_data.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        m_deps.auth = m_account.auth.get();
        m_deps.dataFolder = m_data.filePath(QStringLiteral("store"));
        m_deps.settings = m_settings.get();
        m_deps.http = m_account.http.get();
        m_deps.apiBaseURL = base;
        return build();
    }

    // Ends the shell and builds it again on the same data folder.
    bool restart()
    {
        shutdown();
        return build();
    }

    void shutdown()
    {
        if (m_shell)
            m_shell->shutdown();
        m_shell.reset();
    }

    ApplicationShell *shell() const { return m_shell.get(); }
    AppState *appState() const { return m_shell ? m_shell->appState() : nullptr; }
    QQuickWindow *window() const { return m_shell ? m_shell->mainWindow() : nullptr; }

private:
    bool build()
    {
        m_shell = std::make_unique<ApplicationShell>(m_deps);
        QQuickWindow *shown = window();
        if (!shown)
            return false;
        shown->requestActivate();
        return QTest::qWaitForWindowActive(shown) && QTest::qWaitFor([shown] {
                   return WindowDriver::shownView(shown) == QStringLiteral("playerView");
               }, 10000);
    }

    DemoAccount m_account;
    QTemporaryDir m_data;
    std::unique_ptr<QSettings> m_settings;
    AppStateDependencies m_deps;
    std::unique_ptr<ApplicationShell> m_shell;
};

} // namespace demo

// main() of a test that runs the whole application: prepared as the program's main() prepares
// it, with a QApplication (the save dialog is a widget).
#define CANTORELLA_APP_TEST_MAIN(TestClass)                                                             \
    int main(int argc, char *argv[])                                                                   \
    {                                                                                                  \
        ApplicationShell::prepareProcess();                                                            \
        QApplication app(argc, argv);                                                                  \
        TestClass test;                                                                                \
        return QTest::qExec(&test, argc, argv);                                                        \
    }
