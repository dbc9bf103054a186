#pragma once

#include "app/AppState.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>

class QQmlApplicationEngine;
class QQuickWindow;

// The running application without main(): what main() and the end-to-end tests share.
//
// Order of start-up: prepareProcess() before the application object (names, so that QSettings
// finds the right file, and the Controls style); then, in the constructor, the application font,
// the process-wide AuthService (its stored-session read starts), AppState, and the QML engine
// with the main window. Order of shut-down: the engine (and its windows) before AppState, whose
// destructor stops the coordinator, the now-playing reader and the watchdog.
class ApplicationShell : public QObject
{
    Q_OBJECT
public:
    // Returns the names of the environment variables it set (those the caller had not set).
    static QByteArrayList prepareProcess();

    explicit ApplicationShell(AppStateDependencies dependencies = {}, QObject *parent = nullptr);
    ~ApplicationShell() override;

    AppState *appState() const { return m_appState.get(); }
    QQmlApplicationEngine *engine() const { return m_engine.get(); }
    // The main window; null when Main.qml failed to load.
    QQuickWindow *mainWindow() const;
    // The settings window (hidden until Ctrl+, opens it).
    QQuickWindow *settingsWindow() const;

    // Engine first, then AppState. The destructor does this too; calling it earlier ends the
    // session while the event loop still runs.
    void shutdown();

signals:
    // The first frame that shows the player has reached the screen (once per shell). Also
    // logged as the signpost event "FirstPlayerFrame", so start-up can be timed from outside.
    void firstPlayerFrameShown();

private:
    void watchForFirstPlayerFrame(QQuickWindow *window);
    void releaseFontPagesWhileDrawing(QQuickWindow *window);
    void trimRenderMemoryBySong(QQuickWindow *window);

    std::unique_ptr<AppState> m_appState;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    // Written on the GUI thread; with a threaded render loop, read on the render thread while the
    // GUI thread waits for it.
    std::atomic_bool m_playerShown = false;
    std::atomic_bool m_frameHasPlayer = false;
    std::atomic_bool m_firstPlayerFrameReported = false;
    // Steady-clock milliseconds of the last release of the font files' pages, and the process's
    // file-backed resident pages right after it; frames are synchronised one at a time.
    std::atomic<qint64> m_fontPagesReleasedAt = 0;
    std::atomic<qint64> m_filePagesAfterRelease = 0;
};
