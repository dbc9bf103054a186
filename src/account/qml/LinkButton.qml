import QtQuick
import QtQuick.Controls.Basic
import Cantorella.Design

// A button drawn as its coloured title only, no background.
AbstractButton {
    id: button

    property color tint: "white"
    property int weight: Font.Normal

    Accessible.name: text

    FocusRing { inset: -4; radius: 6 }

    contentItem: Text {
        text: button.text
        font.pixelSize: 13
        font.weight: button.weight
        color: button.tint
        opacity: button.down ? 0.6 : 1.0
        horizontalAlignment: Text.AlignHCenter
    }
}
