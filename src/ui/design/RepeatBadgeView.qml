import QtQuick
import Cantorella.Design

// Marks a card shown again for a repeated line: "重复 n/total", whatever the numbers.
Item {
    id: root

    property int n: 1
    property int total: 1

    implicitWidth: label.implicitWidth + 18
    implicitHeight: label.implicitHeight + 6

    FrostedFill {
        anchors.fill: parent
        radius: height / 2
        border.width: 1
        border.color: Qt.alpha(Theme.neonCyan, 0.45)
    }

    Text {
        id: label
        anchors.centerIn: parent
        text: "重复 " + root.n + "/" + root.total
        textFormat: Text.PlainText
        color: Qt.alpha(Theme.neonCyan, 0.9)
        font: Theme.smallLabel
    }
}
