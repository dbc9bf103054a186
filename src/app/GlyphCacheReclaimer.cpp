#include "app/GlyphCacheReclaimer.h"

#include "session/player/PlayerViewModel.h"

#include <QFont>
#include <QGuiApplication>
#include <QQuickWindow>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// The frame that lays the texts out again may not be the first one after the request (one can
// be in flight); the atlas copies are gone once the second one has been swapped.
constexpr int kFramesBeforeTrim = 2;

void trimHeap()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace

GlyphCacheReclaimer::GlyphCacheReclaimer(QQuickWindow *window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    if (!window)
        return;
    // Emitted on the render thread; counted on this one.
    connect(window, &QQuickWindow::frameSwapped, this, [this] {
        if (m_framesToTrim > 0 && --m_framesToTrim == 0)
            trimHeap();
    }, Qt::QueuedConnection);
}

void GlyphCacheReclaimer::setViewModel(PlayerViewModel *viewModel)
{
    if (m_viewModel == viewModel)
        return;
    disconnect(m_lyricsConnection);
    m_viewModel = viewModel;
    if (viewModel)
        m_lyricsConnection = connect(viewModel, &PlayerViewModel::lyricLinesChanged, this,
                                     &GlyphCacheReclaimer::onLyricLinesChanged);
}

void GlyphCacheReclaimer::onLyricLinesChanged()
{
    // Another song's lines (cleared lines bring no glyphs).
    if (m_viewModel && !m_viewModel->lyricLines().isEmpty())
        reclaim();
}

void GlyphCacheReclaimer::reclaim()
{
    ++m_reclaims;
    // The font engines this thread's texts are laid out with hold the glyph caches: without new
    // engines the texts would keep (and grow) the old caches.
    QFont::cleanup();
    // QQuickWindow listens to this signal: its next synchronisation drops font data and unused
    // glyph caches and lays every text out again.
    emit qGuiApp->fontDatabaseChanged();
    if (m_window) {
        m_framesToTrim = kFramesBeforeTrim;
        m_window->update();
    }
}
