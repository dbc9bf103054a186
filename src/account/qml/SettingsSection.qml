import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// One section of the settings form: a plain header above a rounded group of rows.
ColumnLayout {
    id: section

    property string title
    default property alias rows: group.data

    Layout.fillWidth: true
    spacing: 6

    Text {
        Layout.leftMargin: 10
        text: section.title
        font.pixelSize: 13
        font.weight: Font.DemiBold
        color: Qt.alpha("white", 0.85)
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: group.implicitHeight
        radius: 10
        color: Theme.surfaceFaint
        border.color: Theme.strokeSubtle
        border.width: 1

        ColumnLayout {
            id: group
            anchors.left: parent.left
            anchors.right: parent.right
            spacing: 0
        }
    }
}
