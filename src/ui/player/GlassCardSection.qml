import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// One labelled row of a study card: a 56-point label of icon and text, then the text.
RowLayout {
    id: row

    property string icon: ""
    property string label: ""
    property string content: ""
    property bool monospaced: false
    property color tint: Theme.textSecondary

    Layout.fillWidth: true
    spacing: 6
    // Read as one line: the label, then the text.
    Accessible.role: Accessible.StaticText
    Accessible.name: label + " " + content

    RowLayout {
        Layout.preferredWidth: 56
        Layout.minimumWidth: 56
        Layout.maximumWidth: 56
        Layout.alignment: Qt.AlignTop
        spacing: 4
        Icon { name: row.icon; size: 11; color: Theme.textTertiary }
        Text {
            text: row.label
            textFormat: Text.PlainText
            font.pixelSize: 11
            font.weight: Font.DemiBold
            color: Theme.textTertiary
        }
        Item { Layout.fillWidth: true }
    }
    Text {
        Layout.fillWidth: true
        Layout.alignment: Qt.AlignTop
        text: row.content
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font.family: row.monospaced ? Theme.monoFamily : Theme.sansFamily
        font.pixelSize: 13
        color: row.tint
    }
}
