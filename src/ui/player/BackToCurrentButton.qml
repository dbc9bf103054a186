import QtQuick
import Qt5Compat.GraphicalEffects as Effects
import Cantorella.Design

// "回到当前": takes a list the user scrolled away back to what plays. The button comes and goes
// with a fade and a scale from 0.92 (replacing its pressed look meanwhile), over a soft black
// shadow (black at 0.4, radius 8, 4 points down) that follows it. It keeps taking presses while
// it fades out, so a press meant for it never lands on the list below.
Item {
    id: root

    property bool shown: false
    property bool reduceMotion: SystemMotion.reduceMotion
    // The button's own objectName (tests and the accessibility tree find it by that).
    property alias buttonObjectName: button.objectName

    signal clicked()

    implicitWidth: button.implicitWidth
    implicitHeight: button.implicitHeight
    width: implicitWidth
    height: implicitHeight

    Effects.RectangularGlow {
        y: 4
        width: button.width
        height: button.height
        visible: button.visible
        opacity: button.opacity
        scale: button.scale
        glowRadius: 8
        spread: 0
        cornerRadius: height / 2 + glowRadius
        color: Qt.rgba(0, 0, 0, 0.4)
    }
    CTButton {
        id: button
        anchors.fill: parent
        backing: Theme.backgroundInk
        tone: CT.NeonCyan
        reduceMotion: root.reduceMotion
        text: "回到当前"
        iconName: "arrow.down.to.line"
        iconSize: 11
        font.pixelSize: 12
        font.weight: Font.Medium
        opacity: root.shown ? 1 : 0
        scale: root.shown ? 1 : 0.92
        visible: opacity > 0
        Behavior on opacity {
            NumberAnimation { duration: 200; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
        }
        Behavior on scale {
            NumberAnimation { duration: 200; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
        }
        onClicked: root.clicked()
    }
}
