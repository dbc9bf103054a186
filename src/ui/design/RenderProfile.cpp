#include "ui/design/RenderProfile.h"

#include "core/AppLog.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>

std::optional<RenderProfile> RenderProfileProbe::forcedProfile(const QByteArray &forced)
{
    const QByteArray choice = forced.trimmed().toLower();
    if (choice == "software")
        return RenderProfile::Software;
    if (choice == "hardware")
        return RenderProfile::Hardware;
    return std::nullopt;
}

RenderProfileProbe::Decision RenderProfileProbe::decide(QSGRendererInterface::GraphicsApi api,
                                                        const QByteArray &glRenderer, const QByteArray &forced)
{
    if (const auto chosen = forcedProfile(forced))
        return {*chosen, QStringLiteral("forced by %1").arg(QLatin1String(overrideVariable))};
    if (api == QSGRendererInterface::Software)
        return {RenderProfile::Software, QStringLiteral("Qt Quick's software backend")};
    if (api == QSGRendererInterface::OpenGL) {
        // Mesa's rasterizers on the CPU: "llvmpipe (LLVM 15.0.6, 256 bits)", "softpipe",
        // "Software Rasterizer" (swrast).
        const QByteArray renderer = glRenderer.toLower();
        const bool software = renderer.contains("llvmpipe") || renderer.contains("softpipe")
            || renderer.contains("swrast") || renderer.contains("software rasterizer");
        return {software ? RenderProfile::Software : RenderProfile::Hardware,
                QStringLiteral("OpenGL renderer \"%1\"").arg(QString::fromUtf8(glRenderer))};
    }
    return {RenderProfile::Hardware, QStringLiteral("graphics API %1").arg(int(api))};
}

std::optional<QByteArray> RenderProfileProbe::softwareRasterizerThreads(bool threadsChosen, const QByteArray &forced)
{
    if (threadsChosen || forcedProfile(forced) == RenderProfile::Hardware)
        return std::nullopt;
    return QByteArrayLiteral("2");
}

RenderProfileProbe::RenderProfileProbe(QQuickWindow *window, QObject *parent)
    : QObject(parent), m_window(window)
{
    if (forcedProfile(qgetenv(overrideVariable))) {
        const Decision byOverride = decide(QSGRendererInterface::Unknown, {}, qgetenv(overrideVariable));
        QMetaObject::invokeMethod(this, [this, byOverride] { settle(byOverride); }, Qt::QueuedConnection);
        return;
    }
    if (!window)
        return;
    // Read where the frame was drawn, while its context is current (the render thread with a
    // threaded render loop); the decision is settled on this object's thread.
    m_frame = connect(window, &QQuickWindow::afterRendering, this, [this, window] {
        if (m_probed.exchange(true))
            return;
        QSGRendererInterface *renderer = window->rendererInterface();
        const auto api = renderer ? renderer->graphicsApi() : QSGRendererInterface::Unknown;
        QByteArray glRenderer;
        if (api == QSGRendererInterface::OpenGL) {
            if (QOpenGLContext *context = QOpenGLContext::currentContext())
                glRenderer = reinterpret_cast<const char *>(context->functions()->glGetString(GL_RENDERER));
        }
        const Decision decision = decide(api, glRenderer, {});
        QMetaObject::invokeMethod(this, [this, decision] { settle(decision); }, Qt::QueuedConnection);
    }, Qt::DirectConnection);
}

void RenderProfileProbe::settle(const Decision &decision)
{
    disconnect(m_frame);
    if (m_decided)
        return;
    m_decided = true;
    m_profile = decision.profile;
    qCInfo(lcUi).noquote() << "Render profile:"
                           << (decision.profile == RenderProfile::Software ? "software" : "hardware") << "("
                           << decision.reason << ")";
    emit decided(decision.profile);
}
