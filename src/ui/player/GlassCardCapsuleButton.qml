import QtQuick
import QtQuick.Controls
import Cantorella.Design

// The card's small icon buttons (share, heart): an icon on a tinted capsule, the capsule the hit
// shape.
AbstractButton {
    id: control

    property string iconName: ""
    property color iconColor: "white"
    // A second look (the filled heart): the two cross-fade with the fill and stroke over 0.2 s,
    // with Reduce Motion too (a fade moves nothing).
    property bool iconOn: false
    property string iconNameOn: iconName
    property color iconColorOn: iconColor
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

    FocusRing {}

    contentItem: ToggleIcon {
        on: control.iconOn
        nameOff: control.iconName
        nameOn: control.iconNameOn
        colorOff: control.iconColor
        colorOn: control.iconColorOn
        size: 13
        reduceMotion: false
    }
    background: Rectangle {
        radius: height / 2
        color: control.fill
        border.width: 1
        border.color: control.stroke
        Behavior on color {
            ColorAnimation { duration: 200; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
        }
        Behavior on border.color {
            ColorAnimation { duration: 200; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
        }
    }
}
