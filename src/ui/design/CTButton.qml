import QtQuick
import Cantorella.Design
import QtQuick.Layouts
import QtQuick.Templates as T

// The capsule button in its two looks: `primary: true` (filled) or secondary (faint, tinted
// hairline), each in the tones of CT. No font, width or disabled look of its own: the call site
// sets them. Presses outside the capsule (in the corners) do not reach the button. The clip is
// the bounding rectangle, not the capsule: keep content inside the capsule's radius.
T.Button {
    id: control

    property int tone: CT.NeonCyan
    property bool primary: false
    property bool reduceMotion: SystemMotion.reduceMotion
    property string iconName: ""
    property real iconSize: font.pixelSize > 0 ? font.pixelSize : 12

    readonly property int look: primary ? CT.Primary : CT.Secondary
    readonly property color labelColor: CT.labelColor(look, tone)

    leftPadding: CT.paddingH(look)
    rightPadding: CT.paddingH(look)
    topPadding: CT.paddingV(look)
    bottomPadding: CT.paddingV(look)
    spacing: 5
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding

    Accessible.name: text
    clip: true
    containmentMask: CapsuleMask { width: control.width; height: control.height }
    opacity: CT.opacityFor(look, down)
    scale: CT.scaleFor(down, reduceMotion)
    Behavior on opacity {
        enabled: !control.reduceMotion
        NumberAnimation { duration: 120; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
    }
    Behavior on scale {
        enabled: !control.reduceMotion
        NumberAnimation { duration: 120; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
    }

    contentItem: RowLayout {
        spacing: control.spacing
        Icon {
            visible: control.iconName !== ""
            name: control.iconName
            size: control.iconSize
            color: control.labelColor
        }
        Text {
            visible: control.text !== ""
            text: control.text
            font: control.font
            color: control.labelColor
            textFormat: Text.PlainText
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
    }

    background: Item {
        implicitHeight: 1
        GradientCapsule {
            anchors.fill: parent
            visible: CT.hasGradientFill(control.look, control.tone)
            startColor: Theme.neonCyan
            endColor: Theme.neonViolet
        }
        Rectangle {
            anchors.fill: parent
            visible: !CT.hasGradientFill(control.look, control.tone)
            radius: height / 2
            color: CT.fillColor(control.look, control.tone)
            border.width: 1
            border.color: CT.borderColor(control.look, control.tone)
        }
    }
}
