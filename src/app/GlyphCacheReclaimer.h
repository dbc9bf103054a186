#pragma once

#include <QObject>
#include <QPointer>

class PlayerViewModel;
class QQuickWindow;

// Keeps the window's glyph caches to what the playing song needs.
//
// Qt Quick keeps every glyph it has drawn, per font engine, in an atlas (a texture plus, on
// OpenGL, a CPU-side copy of it) that only ever grows; every new glyph also copies the whole
// atlas once while it is uploaded. Lyrics bring new glyphs with every song (a Chinese song
// hundreds), so without this the window grows by megabytes per new song.
//
// When the lyrics of another song arrive, the GUI thread's font engines are dropped and the
// window is told its fonts changed — Qt Quick's own path after a font database change: the
// texts are laid out again on fresh engines, and at that frame's synchronisation the glyph
// caches that no text uses any more (those of the song before last) are deleted. After the next
// frame, the heap's free pages (the atlas copies of the upload) go back to the system.
// Nothing on screen changes: the same texts are drawn from the new caches.
class GlyphCacheReclaimer : public QObject
{
    Q_OBJECT
public:
    explicit GlyphCacheReclaimer(QQuickWindow *window, QObject *parent = nullptr);

    // Follows this model's lyrics (none: stops following).
    void setViewModel(PlayerViewModel *viewModel);

    // Drops the caches now and trims the heap after the next frame.
    void reclaim();

    // How often reclaim() ran, for tests.
    int reclaimCount() const { return m_reclaims; }

private:
    void onLyricLinesChanged();

    QPointer<QQuickWindow> m_window;
    QPointer<PlayerViewModel> m_viewModel;
    QMetaObject::Connection m_lyricsConnection;
    int m_framesToTrim = 0;
    int m_reclaims = 0;
};
