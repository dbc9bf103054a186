import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player

// The lyrics offset slider: ±2 s in 0.05 s steps, the offset in force, "重置" while the song
// has its own offset. The slider writes only on a user move and then binds to the model again,
// so a value the model ignores (no song) snaps back.
ColumnLayout {
    id: root

    required property PlayerViewModel vm
    required property ClockHandle clocks

    readonly property alias controller: ctl
    readonly property color tint: ctl.atBoundary ? Theme.neonPink : Theme.neonCyan
    readonly property font captionFont: Qt.font({ family: Theme.sansFamily, pixelSize: 11, weight: Font.Medium })

    spacing: 8

    OffsetSliderController {
        id: ctl
        vm: root.vm
        clocks: root.clocks
    }

    RowLayout {
        Layout.fillWidth: true
        Layout.leftMargin: 32
        Layout.rightMargin: 32
        Layout.topMargin: 8
        spacing: 8

        Text {
            text: "歌词偏移"
            font: root.captionFont
            color: Qt.alpha("white", 0.6)
        }
        Item { Layout.fillWidth: true }
        AbstractButton {
            objectName: "offsetSlider.reset"
            visible: ctl.showsReset
            contentItem: Text {
                text: "重置"
                font: root.captionFont
                color: Qt.alpha(Theme.neonCyan, 0.8)
            }
            Accessible.name: "重置"
            onClicked: ctl.reset()
            FocusRing { inset: -4; radius: 6 }
        }
        Text {
            objectName: "offsetSlider.value"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            text: ctl.valueText
            font.family: Theme.monoFamily
            font.pixelSize: 11
            font.weight: Font.Medium
            color: Qt.alpha("white", 0.8)
        }
    }

    Slider {
        id: slider
        objectName: "offsetSlider.slider"
        Layout.fillWidth: true
        Layout.leftMargin: 32
        Layout.rightMargin: 32
        Layout.bottomMargin: 8
        from: -2
        to: 2
        stepSize: 0.05
        snapMode: Slider.SnapAlways
        value: ctl.value
        Accessible.name: "歌词偏移"
        onMoved: {
            ctl.setValue(value)
            value = Qt.binding(() => ctl.value)
        }

        background: Rectangle {
            x: slider.leftPadding
            y: slider.topPadding + slider.availableHeight / 2 - height / 2
            width: slider.availableWidth
            height: 4
            radius: 2
            color: Qt.rgba(1, 1, 1, 0.15)
            Rectangle {
                width: slider.visualPosition * parent.width
                height: parent.height
                radius: 2
                color: root.tint
                Behavior on color {
                    ColorAnimation { duration: 100; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
                }
            }
        }
        handle: Rectangle {
            x: slider.leftPadding + slider.visualPosition * (slider.availableWidth - width)
            y: slider.topPadding + slider.availableHeight / 2 - height / 2
            width: 16
            height: 16
            radius: 8
            color: "white"
            border.color: root.tint
            border.width: 2
            FocusRing { control: slider; inset: -4 }
        }
    }
}
