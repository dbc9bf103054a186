#include "app/ApplicationShell.h"

#include "app/RenderMemoryTrim.h"

#include "backend/AuthService.h"
#include "core/AppLog.h"
#include "platform/FontFilePages.h"
#include "ui/design/FramePacer.h"
#include "ui/design/RenderProfile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFont>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

Q_IMPORT_QML_PLUGIN(Cantorella_SessionPlugin)
Q_IMPORT_QML_PLUGIN(Cantorella_DesignPlugin)
Q_IMPORT_QML_PLUGIN(Cantorella_AccountPlugin)
Q_IMPORT_QML_PLUGIN(Cantorella_PlayerPlugin)
Q_IMPORT_QML_PLUGIN(Cantorella_AppPlugin)

namespace {

const QUrl mainQml(QStringLiteral("qrc:/Cantorella/App/Main.qml"));

// From the first player frame on, blocks of 128 KiB and more are mapped on their own and
// handed back when freed. By default glibc raises this threshold each time such a block is
// freed, and later ones then come from the heap of the thread that asks, which keeps their
// pages. Qt Quick's glyph caches copy their whole atlas image for every new glyph drawn (the
// copies live until the frame's upload), so a song with many new glyphs (Chinese lyrics) left
// tens of megabytes of such copies in the heap of the thread that draws, more with every song.
// Start-up draws no song and allocates many large blocks briefly, so it keeps glibc's own
// policy; what it left free in the heaps goes back here.
void mapLargeBlocksApart()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    malloc_trim(0);
#endif
}

// Sets an environment variable the person running the program did not set, and notes it.
void setUnlessChosen(QByteArrayList &set, const char *name, const QByteArray &value)
{
    if (qEnvironmentVariableIsSet(name))
        return;
    qputenv(name, value);
    set.append(name);
}

} // namespace

QByteArrayList ApplicationShell::prepareProcess()
{
    QByteArrayList set;
    // Text drawn as distance fields keeps every glyph it ever drew in textures that are never
    // trimmed, each glyph rendered at this base size whatever size it is shown at (Qt's default
    // 54 px: about 4.6 KB a glyph; 32 px, Qt's own "low" quality level: about 2.1 KB; 24 px:
    // about 1.3 KB), and the study cards and stories bring new Chinese characters with every
    // song. The texts drawn this way are at most 34 px and most are 10–17 px: a field is drawn
    // scaled, so 24 px keeps their edges (the window's screenshots at 24 and 32 px differ only
    // in faint shades along the glyphs' rims). Over 20 songs with cards, the resident memory was
    // about 4 MiB lower at 24 px than at 32 (its peak 4–9 MiB). Read once, when the first such
    // cache is made.
    setUnlessChosen(set, "QT_DISTANCEFIELD_DEFAULT_BASEFONTSIZE", "24");
    // The window is drawn on the GUI thread (Qt Quick's "basic" render loop), not on a render
    // thread of its own. A second thread gains it little (where a software rasterizer draws, the
    // frame clock paces its frames), and that thread costs memory that grows with the songs: Qt keeps
    // one FreeType library per thread that draws text, so every font face, its glyph outlines
    // and the font files' pages were held twice, and glibc gives the thread a heap of its own
    // that the frames' scratch memory scatters. Measured over 20 songs: 5 MiB less resident
    // memory at every song, the same CPU time, the same start-up. QSG_RENDER_LOOP still chooses.
    setUnlessChosen(set, "QSG_RENDER_LOOP", "basic");
    // Qt's own disk cache of linked shader programs stays off. Mesa's software rasterizer holds
    // a program loaded from such a binary in more memory than one linked from its source (which
    // Mesa's own shader cache speeds up): over 20 songs with cards, the largest resident memory
    // was 2–7 MiB lower without it, with the same CPU time. The window's pipelines are rebuilt
    // after each song change (RenderMemoryTrim), so the difference would come back every song.
    QCoreApplication::setAttribute(Qt::AA_DisableShaderDiskCache);
    // The window has no depth or stencil buffer. Qt Quick then draws its opaque items in the
    // same back-to-front pass as the rest, which gives the same picture, and the window's clips
    // are all upright rectangles, which a scissor cuts (only a clip turned by a rotation needs
    // the stencil). Where a software rasterizer draws, the two buffers took 6 MiB of resident
    // memory beside the window's own pixels and saved no CPU time. Either variable still chooses.
    setUnlessChosen(set, "QSG_NO_DEPTH_BUFFER", "1");
    setUnlessChosen(set, "QSG_NO_STENCIL_BUFFER", "1");
    if (const auto threads = RenderProfileProbe::softwareRasterizerThreads(
            qEnvironmentVariableIsSet("LP_NUM_THREADS"), qgetenv(RenderProfileProbe::overrideVariable)))
        setUnlessChosen(set, "LP_NUM_THREADS", *threads);
    QCoreApplication::setOrganizationName(QStringLiteral("com.cantorella"));
    QCoreApplication::setApplicationName(QStringLiteral("Cantorella"));
    // The desktop entry's name (packaging/app.cantorella.Cantorella.desktop): on Wayland the window's
    // app id, by which the desktop shows the entry's name and icon. On X11 the window's class is the
    // application name, "Cantorella", which the entry names as StartupWMClass.
    QGuiApplication::setDesktopFileName(QStringLiteral("app.cantorella.Cantorella"));
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    return set;
}

ApplicationShell::ApplicationShell(AppStateDependencies dependencies, QObject *parent)
    : QObject(parent)
{
    QGuiApplication::setFont(QFont(QStringLiteral("Noto Sans CJK SC")));
    // The program speaks Chinese whatever the system's language: Qt's own texts (the save
    // dialog's buttons and questions) follow it. Without the translation files they stay English.
    auto *qtTexts = new QTranslator(this);
    if (qtTexts->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    else
        qCWarning(lcApp, "Qt's Chinese texts (qtbase_zh_CN) are not installed; its dialogs speak English");
    if (!dependencies.auth)
        dependencies.auth = AuthService::shared();
    m_appState = std::make_unique<AppState>(std::move(dependencies));
    AppState::setQmlInstance(m_appState.get());

    m_engine = std::make_unique<QQmlApplicationEngine>();
    // The modules are linked in statically; their qmldir files live in the resources.
    m_engine->addImportPath(QStringLiteral("qrc:/"));
    m_engine->load(mainQml);
    if (m_engine->rootObjects().isEmpty()) {
        qCCritical(lcApp, "Main.qml did not load");
        return;
    }
    watchForFirstPlayerFrame(mainWindow());
    releaseFontPagesWhileDrawing(mainWindow());
    // What draws the first frame decides how the frame clock paces animations and whether the
    // pacer holds frames (software rasterizer only). Paced with Reduce Motion too: the clock then
    // runs only for the lit words and the card transitions, and each of their frames would
    // otherwise cost a second one for the layers it re-rendered.
    if (auto *frames = qobject_cast<FrameClock *>(m_appState->clocks()->frameClock())) {
        auto *profile = new RenderProfileProbe(mainWindow(), this);
        connect(profile, &RenderProfileProbe::decided, frames, &FrameClock::setRenderProfile);
        new FramePacer(mainWindow(), frames, this);
    }
    connect(this, &ApplicationShell::firstPlayerFrameShown, this, mapLargeBlocksApart);
    trimRenderMemoryBySong(mainWindow());
}

// A new song replaces the Now tab's cards and the lyrics: once the window shows them, what the
// renderer cached for the views that are gone is let go (RenderMemoryTrim).
void ApplicationShell::trimRenderMemoryBySong(QQuickWindow *window)
{
    if (!window)
        return;
    auto *trim = new RenderMemoryTrim(window, this);
    const auto follow = [this, trim] { trim->followSongs(m_appState->viewModel()); };
    follow();
    connect(m_appState.get(), &AppState::graphChanged, this, follow);
}

void ApplicationShell::watchForFirstPlayerFrame(QQuickWindow *window)
{
    if (!window)
        return;
    AppState *state = m_appState.get();
    const auto notePlayer = [this, state] { m_playerShown = state->rootView() == AppState::RootView::Player; };
    notePlayer();
    connect(state, &AppState::rootViewChanged, this, notePlayer);
    // A frame shows the player when its scene was synchronised after the player was loaded. With
    // a threaded render loop (QSG_RENDER_LOOP=threaded) both signals come on the render thread.
    connect(window, &QQuickWindow::afterSynchronizing, this,
            [this] { m_frameHasPlayer = m_playerShown.load(); }, Qt::DirectConnection);
    connect(window, &QQuickWindow::frameSwapped, this, [this] {
        if (!m_frameHasPlayer || m_firstPlayerFrameReported.exchange(true))
            return;
        AppLog::signpostEvent("FirstPlayerFrame");
        QMetaObject::invokeMethod(this, &ApplicationShell::firstPlayerFrameShown, Qt::QueuedConnection);
    }, Qt::DirectConnection);
}

// The pages of the font files that FreeType read glyph outlines from stay mapped in every thread
// that drew text, more of them with every song that brings new characters (FontFilePages). They
// are released as soon as a frame finds the process's file-backed pages grown since the last
// release (a cheap read; the release itself reads /proc/self/maps), at most four times a second:
// outlines are read when text is laid out and when its new glyphs are drawn, and the next frame
// gives them back, so no song's characters stay resident for long. An idle window keeps what it
// had. It runs during a frame's synchronisation: on the GUI thread, the one that draws this
// window's text; with a threaded render loop, on the render thread while the GUI thread waits.
// Either way no thread that draws text can close a font then.
void ApplicationShell::releaseFontPagesWhileDrawing(QQuickWindow *window)
{
    if (!window)
        return;
    constexpr qint64 intervalMs = 250;
    // Less than one fault-around window of a font file (64 KiB); library code pages that run for
    // the first time also count, and cost at most one needless release each.
    constexpr qint64 growthPages = 8;
    connect(window, &QQuickWindow::afterSynchronizing, this, [this] {
        const qint64 filePages = FontFilePages::residentFilePages();
        if (filePages < m_filePagesAfterRelease.load())
            m_filePagesAfterRelease = filePages; // the kernel reclaimed some
        if (filePages >= 0 && filePages - m_filePagesAfterRelease.load() < growthPages)
            return;
        const qint64 now = QDeadlineTimer::current().deadline();
        if (now - m_fontPagesReleasedAt.load() < intervalMs)
            return;
        m_fontPagesReleasedAt = now;
        FontFilePages::releaseResident();
        m_filePagesAfterRelease = FontFilePages::residentFilePages();
    }, Qt::DirectConnection);
}

ApplicationShell::~ApplicationShell()
{
    shutdown();
}

QQuickWindow *ApplicationShell::mainWindow() const
{
    if (!m_engine || m_engine->rootObjects().isEmpty())
        return nullptr;
    return qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
}

QQuickWindow *ApplicationShell::settingsWindow() const
{
    QQuickWindow *main = mainWindow();
    return main ? main->findChild<QQuickWindow *>(QStringLiteral("settingsWindow")) : nullptr;
}

void ApplicationShell::shutdown()
{
    m_engine.reset();
    m_appState.reset();
}
