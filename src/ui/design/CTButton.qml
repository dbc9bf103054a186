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
    // Painted inside the capsule under the tone's fill: an opaque backing keeps a button that
    // floats over text readable (the faint fills let the text beneath show through).
    property color backing: "transparent"
    // When above 0, a change of look (primary or tone) fades the fill and the label's colour over
    // this many ms, ease-in-out, with Reduce Motion too (a fade moves nothing).
    property int lookDuration: 0

    readonly property int look: primary ? CT.Primary : CT.Secondary
    readonly property color labelColor: CT.labelColor(look, tone)
    readonly property bool _animatesLook: lookDuration > 0
    property color _shownLabelColor: labelColor
    Behavior on _shownLabelColor {
        enabled: control._animatesLook
        ColorAnimation { duration: control.lookDuration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
    }

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
        NumberAnimation { duration: Motion.press.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
    }
    Behavior on scale {
        enabled: !control.reduceMotion
        NumberAnimation { duration: Motion.press.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
    }

    FocusRing {}

    // The label hugs its icon and text and sits centred in a button made wider than it.
    contentItem: Item {
        implicitWidth: label.implicitWidth
        implicitHeight: label.implicitHeight
        RowLayout {
            id: label
            anchors.centerIn: parent
            width: Math.min(implicitWidth, parent.width)
            spacing: control.spacing
            Icon {
                visible: control.iconName !== ""
                name: control.iconName
                size: control.iconSize
                color: control._shownLabelColor
            }
            Text {
                visible: control.text !== ""
                text: control.text
                font: control.font
                color: control._shownLabelColor
                textFormat: Text.PlainText
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
        }
    }

    background: Item {
        implicitHeight: 1
        Rectangle {
            anchors.fill: parent
            visible: control.backing.a > 0
            radius: height / 2
            color: control.backing
        }
        GradientCapsule {
            anchors.fill: parent
            opacity: CT.hasGradientFill(control.look, control.tone) ? 1 : 0
            visible: opacity > 0
            startColor: Theme.neonCyan
            endColor: Theme.neonViolet
            Behavior on opacity {
                enabled: control._animatesLook
                NumberAnimation { duration: control.lookDuration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
            }
        }
        Rectangle {
            anchors.fill: parent
            opacity: CT.hasGradientFill(control.look, control.tone) ? 0 : 1
            visible: opacity > 0
            radius: height / 2
            color: CT.fillColor(control.look, control.tone)
            border.width: 1
            border.color: CT.borderColor(control.look, control.tone)
            Behavior on opacity {
                enabled: control._animatesLook
                NumberAnimation { duration: control.lookDuration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
            }
            Behavior on color {
                enabled: control._animatesLook
                ColorAnimation { duration: control.lookDuration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
            }
        }
    }
}
