#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSGRendererInterface>

#include <atomic>
#include <optional>

class QQuickWindow;

// What the window is drawn with decides how often animations may redraw it. With a software
// rasterizer every frame costs a whole window's pixels on the CPU, so the frame clock paces
// transitions and ambient animations and the frame pacer holds the window to one frame a tick.
// Where a GPU draws, frames are cheap: transitions run at the display's rate and the ambient
// animations at their own caps.
enum class RenderProfile { Software, Hardware };

// Decides the profile once, from what draws a window's first frame; the frame clock and the
// frame pacer read the result. CANTORELLA_RENDER_PROFILE=software|hardware forces either (then
// no frame is waited for). The choice is logged once.
class RenderProfileProbe : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *overrideVariable = "CANTORELLA_RENDER_PROFILE";

    struct Decision
    {
        RenderProfile profile;
        QString reason; // for the log line
    };
    // The decision itself: `forced` is the override variable's value (empty when unset; an
    // unknown value is ignored), `glRenderer` the OpenGL renderer string (empty for other APIs).
    static Decision decide(QSGRendererInterface::GraphicsApi api, const QByteArray &glRenderer,
                           const QByteArray &forced);

    // The override variable's value read as a profile; none when empty or unknown.
    static std::optional<RenderProfile> forcedProfile(const QByteArray &forced);

    // Mesa's software rasterizer (llvmpipe) splits each frame among as many threads as the
    // machine has cores, and waking and joining them costs more than this window's pixels at
    // the software profile's paced rates: with two, a song playing in the animated window took
    // a fifth less CPU time and a 0.4 s scroll still drew 12 frames. The value for
    // LP_NUM_THREADS, decided before the display is opened (Mesa reads it then, before any
    // frame could tell the profile); none where the variable is already set (it still chooses)
    // or the hardware profile is forced (which asks for the display's rate). Other drivers do
    // not read it.
    static std::optional<QByteArray> softwareRasterizerThreads(bool threadsChosen, const QByteArray &forced);

    explicit RenderProfileProbe(QQuickWindow *window, QObject *parent = nullptr);

    bool isDecided() const { return m_decided; }
    RenderProfile profile() const { return m_profile; }

signals:
    // Once, on the probe's thread.
    void decided(RenderProfile profile);

private:
    void settle(const Decision &decision);

    QPointer<QQuickWindow> m_window;
    QMetaObject::Connection m_frame;
    std::atomic_bool m_probed = false;
    bool m_decided = false;
    RenderProfile m_profile = RenderProfile::Software;
};
