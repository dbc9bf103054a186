import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// The song has no study cards.
Item {
    ColumnLayout {
        anchors.centerIn: parent
        anchors.verticalCenterOffset: 30
        width: parent.width
        spacing: 12

        Text {
            Accessible.ignored: true
            Layout.alignment: Qt.AlignHCenter
            text: "✨"
            font.family: "Noto Color Emoji"
            font.pixelSize: 22
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: "这首歌还没有学习卡片"
            font.pixelSize: 14
            color: Theme.textSecondary
        }
    }
}
