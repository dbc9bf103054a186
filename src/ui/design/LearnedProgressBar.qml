import QtQuick
import Cantorella.Design

// A given fraction as a 1 px line in the neon gradient. A change of the clamped fraction eases
// the fill over 0.5 s (the animated value is the fraction, so a resize does not animate).
Item {
    id: root

    property real fraction: 0
    readonly property real clampedFraction: Progress.learnedFraction(fraction)
    property real shownFraction: clampedFraction

    implicitHeight: 1

    Behavior on shownFraction {
        NumberAnimation { duration: 500; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
    }

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: Qt.rgba(1, 1, 1, 0.1)
    }

    Rectangle {
        objectName: "learnedProgressBar.fill"
        width: root.width * root.shownFraction
        height: parent.height
        radius: height / 2
        visible: width > 0
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop { position: 0; color: Theme.neonCyan }
            GradientStop { position: 0.5; color: "#E040FB" }
            GradientStop { position: 1; color: Theme.neonPink }
        }
    }
}
