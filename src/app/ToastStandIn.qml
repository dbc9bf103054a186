import QtQuick
import Cantorella.Session

// Stands in for the design system's toast until it is built: the current toast's text in a
// capsule near the bottom of the window.
Item {
    id: root
    required property ToastCenter center

    Rectangle {
        objectName: "toast"
        visible: root.center.hasCurrent
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 24
        width: label.implicitWidth + 32
        height: label.implicitHeight + 20
        radius: height / 2
        color: Qt.rgba(1, 1, 1, 0.15)
        border.color: Qt.rgba(1, 1, 1, 0.2)
        border.width: 0.5

        Text {
            id: label
            anchors.centerIn: parent
            textFormat: Text.PlainText
            color: "white"
            font.pixelSize: 14
            text: root.center.currentText
        }
    }
}
