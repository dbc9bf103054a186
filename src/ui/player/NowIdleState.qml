import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// Nothing is playing.
Item {
    ColumnLayout {
        anchors.centerIn: parent
        width: parent.width
        spacing: 16

        Text {
            Accessible.ignored: true
            Layout.alignment: Qt.AlignHCenter
            text: "🎵"
            font.family: "Noto Color Emoji"
            font.pixelSize: 32
            opacity: 0.6
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Layout.fillWidth: true
            Layout.leftMargin: 32
            Layout.rightMargin: 32
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: "在你最喜欢的播放器里按下播放，金句卡片会出现在这里"
            font.pixelSize: 14
            color: Theme.textSecondary
        }
    }
}
