import QtQuick
import Cantorella.Design

// An icon with two looks (an outline and a filled heart, …) that cross-fade when `on` changes,
// over `duration` ms ease-in-out; at once with Reduce Motion. The first look shows without fading.
Item {
    id: root

    property bool on: false
    property string nameOn: ""
    property string nameOff: ""
    property color colorOn: "white"
    property color colorOff: "white"
    property real size: 13
    property int duration: 200
    property bool reduceMotion: SystemMotion.reduceMotion
    // The look `on` asks for (the one that shows once the fade ends).
    readonly property string name: on ? nameOn : nameOff

    // 0: the off look, 1: the on look.
    property real fraction: on ? 1 : 0
    Behavior on fraction {
        enabled: !root.reduceMotion && root.duration > 0
        NumberAnimation { duration: root.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
    }

    implicitWidth: size
    implicitHeight: size

    Icon {
        anchors.centerIn: parent
        visible: opacity > 0
        opacity: 1 - root.fraction
        name: root.nameOff
        size: root.size
        color: root.colorOff
    }
    Icon {
        anchors.centerIn: parent
        visible: opacity > 0
        opacity: root.fraction
        name: root.nameOn
        size: root.size
        color: root.colorOn
    }
}
