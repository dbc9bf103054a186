import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// The song's lyrics are not in the language studied here: no cards are made for it.
Item {
    id: root
    property string language: ""

    ColumnLayout {
        anchors.centerIn: parent
        width: parent.width
        spacing: 12
        Text {
            Layout.alignment: Qt.AlignHCenter
            text: "🌐"
            font.family: "Noto Color Emoji"
            font.pixelSize: 22
        }
        Text {
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            textFormat: Text.PlainText
            text: root.language
            font.pixelSize: 14
            color: Theme.textSecondary
        }
    }
}
