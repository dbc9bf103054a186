import QtQuick
import QtQuick.Controls
import Cantorella.Design

// The card's small icon buttons (share, heart): an icon on a tinted capsule, the capsule the hit
// shape.
AbstractButton {
    id: control

    property string iconName: ""
    property color iconColor: "white"
    property color fill: "transparent"
    property color stroke: "transparent"
    property string help: ""

    leftPadding: 10
    rightPadding: 10
    topPadding: 6
    bottomPadding: 6
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    containmentMask: CapsuleMask { width: control.width; height: control.height }
    Accessible.name: help
    ToolTip.visible: hovered && help !== ""
    ToolTip.text: help

    contentItem: Icon { name: control.iconName; size: 13; color: control.iconColor }
    background: Rectangle {
        radius: height / 2
        color: control.fill
        border.width: 1
        border.color: control.stroke
        Behavior on color { ColorAnimation { duration: 200; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut } }
    }
}
