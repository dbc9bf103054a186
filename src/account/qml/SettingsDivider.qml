import QtQuick
import QtQuick.Layouts

// The line between two rows of a settings group.
Rectangle {
    Layout.fillWidth: true
    Layout.leftMargin: 10
    Layout.rightMargin: 10
    implicitHeight: 1
    color: Qt.alpha("white", 0.08)
}
