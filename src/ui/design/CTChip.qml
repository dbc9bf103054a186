import QtQuick
import Cantorella.Design
import QtQuick.Layouts

// The chip look: a small tinted capsule behind a short label. Give it `text`, or children
// (a dot and a text, …) that take `contentColor`. No clip, no hits, no press state.
Item {
    id: chip

    property int tone: CT.NeonCyan
    property string text: ""
    property font font: Theme.smallLabel
    property real spacing: 4
    readonly property color contentColor: CT.labelColor(CT.Chip, tone)
    default property alias content: row.data

    implicitWidth: row.implicitWidth + 2 * CT.paddingH(CT.Chip)
    Accessible.role: Accessible.StaticText
    Accessible.name: text
    Accessible.ignored: text === ""
    implicitHeight: row.implicitHeight + 2 * CT.paddingV(CT.Chip)

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: CT.fillColor(CT.Chip, chip.tone)
        border.width: 1
        border.color: CT.borderColor(CT.Chip, chip.tone)
    }

    RowLayout {
        id: row
        anchors.centerIn: parent
        spacing: chip.spacing
        Text {
            visible: chip.text !== ""
            text: chip.text
            font: chip.font
            color: chip.contentColor
            textFormat: Text.PlainText
        }
    }
}
