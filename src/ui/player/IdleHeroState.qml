import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// The panel while nothing plays: a two-line invitation to press play. It breathes with the
// lyrics position, which without a song is the lyrics offset alone; Reduce Motion gives 0.75.
Item {
    id: root

    property real elapsed: 0
    property bool reduceMotion: SystemMotion.reduceMotion

    ColumnLayout {
        anchors.centerIn: parent
        width: parent.width - 48
        spacing: 8
        opacity: root.reduceMotion ? 0.75 : Motion.breathe(root.elapsed, 5, 0.55, 0.4)

        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: "Press play. Let lyrics breathe."
            font.pixelSize: 18
            font.weight: Font.Light
            color: "white"
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: "按下播放，让歌词呼吸。"
            font.pixelSize: 13
            color: Theme.textSecondary
        }
    }
}
