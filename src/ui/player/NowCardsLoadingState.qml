import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design

// The song's study cards are being generated.
Item {
    ColumnLayout {
        anchors.centerIn: parent
        anchors.verticalCenterOffset: 30
        width: parent.width
        spacing: 10

        BusyIndicator {
            Layout.alignment: Qt.AlignHCenter
            running: true
            scale: 1.2
            palette.dark: Theme.neonCyan
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Layout.alignment: Qt.AlignHCenter
            text: "正在生成学习卡片…"
            font.pixelSize: 13
            color: Theme.textSecondary
        }
    }
}
