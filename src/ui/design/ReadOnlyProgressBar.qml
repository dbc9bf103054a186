import QtQuick
import Cantorella.Design

// How far the playing song has advanced: a 6 px capsule track with the neon gradient filled
// from the left. Follows `elapsed` at once (no animation of its own); takes no input. The fill
// moves in whole pixels: a sub-pixel step is invisible but would still cost the window a frame.
Item {
    id: root

    property real elapsed: 0
    property real duration: 0
    readonly property real fraction: Progress.readOnlyFraction(elapsed, duration)

    implicitHeight: 6
    Accessible.ignored: true

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: Qt.rgba(1, 1, 1, 0.15)
    }

    Rectangle {
        objectName: "readOnlyProgressBar.fill"
        width: Math.round(root.width * root.fraction)
        height: parent.height
        radius: height / 2
        visible: width > 0
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop { position: 0; color: Theme.neonCyan }
            GradientStop { position: 0.5; color: Theme.neonViolet }
            GradientStop { position: 1; color: Theme.neonPink }
        }
    }
}
