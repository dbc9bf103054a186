#include "app/RenderMemoryTrim.h"

#include "session/player/PlayerViewModel.h"

#include <QQmlEngine>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QtGui/private/qrhi_p.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// The pages of the blocks freed since the last call go back to the system; glibc keeps them
// otherwise, as long as a block still in use lies above them in the heap.
void returnFreeHeapPages()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace

RenderMemoryTrim::Actions RenderMemoryTrim::windowActions(QQuickWindow *window)
{
    const QPointer<QQuickWindow> target(window);
    RenderMemoryTrim::Actions actions;
    // Only batches not in use are trimmed (QRhi skips the others); the backend also drops the
    // compiled shader stages it keeps for pipelines yet to be made, not the pipelines.
    actions.trimPooledUploads = [target] {
        if (!target)
            return;
        auto *rhi = static_cast<QRhi *>(
            target->rendererInterface()->getResource(target, QSGRendererInterface::RhiResource));
        if (rhi)
            rhi->releaseCachedResources();
        returnFreeHeapPages();
    };
    actions.releaseWindowCaches = [target] {
        if (target) {
            target->releaseResources();
            // The script objects of the views that are gone, and the objects they own, are
            // freed now rather than when the engine next runs short of room, so that their
            // pages go back with the trim below.
            if (QQmlEngine *engine = qmlEngine(target.data()))
                engine->collectGarbage();
        }
        returnFreeHeapPages();
    };
    return actions;
}

RenderMemoryTrim::RenderMemoryTrim(QQuickWindow *window, QObject *parent)
    : RenderMemoryTrim(window, windowActions(window), uploadTrimInterval, parent)
{
}

RenderMemoryTrim::RenderMemoryTrim(QQuickWindow *window, Actions actions, std::chrono::milliseconds interval,
                                   QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_actions(std::move(actions))
    , m_interval(interval)
{
    m_sinceUploadTrim.start();
    if (window)
        connect(window, &QQuickWindow::frameSwapped, this, &RenderMemoryTrim::frameSwapped, Qt::DirectConnection);
}

void RenderMemoryTrim::songViewsReplaced()
{
    m_songChanged = true;
}

void RenderMemoryTrim::followSongs(PlayerViewModel *model)
{
    for (const auto &connection : std::as_const(m_songWatch))
        disconnect(connection);
    m_songWatch.clear();
    if (!model)
        return;
    for (const auto signal : {&PlayerViewModel::songSessionIdChanged, &PlayerViewModel::lyricLinesChanged,
                              &PlayerViewModel::cardsChanged})
        m_songWatch << connect(model, signal, this, &RenderMemoryTrim::songViewsReplaced);
}

void RenderMemoryTrim::frameSwapped()
{
    if (m_songChanged.exchange(false)) {
        // releaseResources() belongs to the window's thread; it covers the pooled uploads too.
        m_sinceUploadTrim.start();
        QMetaObject::invokeMethod(this, [this] {
            if (m_actions.releaseWindowCaches)
                m_actions.releaseWindowCaches();
        }, Qt::QueuedConnection);
        return;
    }
    if (std::chrono::milliseconds(m_sinceUploadTrim.elapsed()) < m_interval)
        return;
    m_sinceUploadTrim.start();
    if (m_actions.trimPooledUploads)
        m_actions.trimPooledUploads();
}
