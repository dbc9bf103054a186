import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// The library's empty state: an emoji above a message, centred in the space 60 points below the
// top edge.
Item {
    id: root

    property string emoji
    property string message

    // Read as its message; the emoji is decoration.
    Accessible.role: Accessible.StaticText
    Accessible.name: message

    Item {
        anchors.fill: parent
        anchors.topMargin: 60

        ColumnLayout {
            anchors.centerIn: parent
            width: parent.width
            spacing: 12

            Text {
                Accessible.ignored: true
                Layout.alignment: Qt.AlignHCenter
                text: root.emoji
                textFormat: Text.PlainText
                font.pixelSize: 22
                font.family: "Noto Color Emoji"
            }
            Text {
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                objectName: "emptyState.message"
                Layout.fillWidth: true
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                text: root.message
                textFormat: Text.PlainText
                font.pixelSize: 14
                color: Theme.textSecondary
            }
        }
    }
}
