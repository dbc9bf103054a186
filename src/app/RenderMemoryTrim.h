#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <functional>

class PlayerViewModel;
class QQuickWindow;

// Bounds what the window's renderer keeps from past frames and past songs. Qt Quick keeps, for
// good, the largest of everything it ever drew: each pooled resource-update batch keeps the
// vertex, index and uniform data of the largest upload it ever carried; the scene renderer
// keeps its upload pools and pipelines; the software rasterizer keeps each pipeline's compiled
// shaders. With the cards of one song after another, animated, that grew by megabytes over
// every few songs, and glibc kept the freed blocks' pages in the heap of the thread that drew.
//
// - After a frame, at most once per `uploadTrimInterval`: the pooled batches that are idle
//   drop their data (the next frames allocate what they need again), and glibc hands the
//   heap's free pages back. Runs on the thread that draws, right after the frame.
// - After a song change, at the first frame that shows the new song's views: the window's
//   cached graphics resources are released (pipelines of views that are gone, the renderer's
//   pools; what is still shown is rebuilt at the next frame), the QML engine collects the
//   garbage the old views left, then the free pages go back.
//
// The actions are injectable so that the scheduling can be tested without a renderer.
class RenderMemoryTrim : public QObject
{
    Q_OBJECT

public:
    struct Actions
    {
        // On the thread that draws, after a frame.
        std::function<void()> trimPooledUploads;
        // On the window's thread.
        std::function<void()> releaseWindowCaches;
    };

    static constexpr std::chrono::milliseconds uploadTrimInterval{2000};
    // What the window's renderer lets go of, and glibc's free pages after it.
    static Actions windowActions(QQuickWindow *window);

    explicit RenderMemoryTrim(QQuickWindow *window, QObject *parent = nullptr);
    RenderMemoryTrim(QQuickWindow *window, Actions actions, std::chrono::milliseconds interval,
                     QObject *parent = nullptr);

    // The views of the song that was shown are being replaced (a new song, its cards).
    void songViewsReplaced();
    // Calls songViewsReplaced() when the model's song, its lyric lines or its cards change (and
    // no longer for the model followed before; null follows none). A position sample of the same
    // song is no such change: a release makes the software rasterizer compile every shader of
    // the next frame again.
    void followSongs(PlayerViewModel *model);

private:
    void frameSwapped();

    QPointer<QQuickWindow> m_window;
    Actions m_actions;
    std::chrono::milliseconds m_interval;
    // Frames are swapped one at a time, on the thread that draws; a song change comes from the
    // window's thread.
    std::atomic_bool m_songChanged = false;
    QList<QMetaObject::Connection> m_songWatch;
    QElapsedTimer m_sinceUploadTrim;
};
