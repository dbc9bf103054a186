import QtQuick
import QtQuick.Window
import Cantorella.Design

// The gallery window: the animated background as the compact lyrics panel shows it, every
// other piece in the column on the right, and a toast at the bottom.
Window {
    id: win

    required property FrameClock frameClock
    required property MotionPreferences motionPreferences
    property bool playing: false
    property real elapsed: 0
    readonly property bool reduceMotion: motionPreferences.reduceMotion

    width: 800
    height: 950
    minimumWidth: 800
    minimumHeight: 950
    color: Theme.backgroundInk
    title: "Cantorella 设计系统"

    AnimationActivityView {
        id: gate
        anchors.fill: parent
        isPlaying: win.playing
        motionPreferences: win.motionPreferences

        MeshGradientBackground {
            anchors.fill: parent
            elapsed: win.elapsed
            isAnimating: gate.active
            cycleDuration: 14
            maxDriftX: 20
            maxDriftY: -20
            maxScale: 1.05
            frameClock: win.frameClock
        }

        ParticleCanvas {
            anchors.fill: parent
            isAnimating: gate.active
            particleCount: 46
            frameClock: win.frameClock
        }
    }

    Column {
        x: 20
        y: 20
        spacing: 6
        CTChip {
            tone: CT.NeonCyan
            spacing: 4
            Rectangle { width: 5; height: 5; radius: 2.5; color: Theme.neonCyan }
            Text { text: "NOW PLAYING"; color: "white"; font: Theme.smallLabel }
        }
        Text {
            text: (gate.active ? "动画: 开" : "动画: 关") + (win.reduceMotion ? " · 减少动态效果" : "")
                  + " · e = " + win.elapsed.toFixed(1) + " s"
            color: Theme.textSecondary
            font: Theme.timecode
        }
        Text {
            text: "Golden hour 黄金时刻"
            color: Theme.textPrimary
            font: Theme.cardHeadline
        }
    }

    GalleryControls {
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        anchors.margins: 16
        width: 470
        elapsed: win.elapsed
        reduceMotion: win.reduceMotion
    }

    ToastView {
        anchors.fill: parent
        text: "已复制 / Copied"
        toastId: "gallery"
        reduceMotion: win.reduceMotion
    }
}
