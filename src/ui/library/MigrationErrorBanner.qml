import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// The migration's warning above the tab picker; it has no close control.
Rectangle {
    id: root

    property string message

    implicitHeight: row.implicitHeight + 16
    color: Qt.alpha(Theme.neonPink, 0.12)

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        anchors.topMargin: 8
        anchors.bottomMargin: 8
        spacing: 8

        Icon {
            name: "exclamationmark.triangle.fill"
            size: 13
            color: Theme.neonPink
            Accessible.ignored: true
        }
        Text {
            objectName: "migrationBanner.message"
            Layout.fillWidth: true
            text: root.message
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font.pixelSize: 12
            color: "white"
        }
    }
}
