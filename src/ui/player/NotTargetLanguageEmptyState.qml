import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// In place of the card list when the playing song's lyrics are not in a language of study.
// The same three items whatever `language` says.
Item {
    id: root

    property string language: ""

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(root.width, implicitWidth)
        spacing: 12

        Icon {
            Layout.alignment: Qt.AlignHCenter
            name: "globe"
            size: 32
            color: Theme.textSecondary
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Layout.alignment: Qt.AlignHCenter
            text: "暂不支持该歌曲"
            font.pixelSize: 17
            font.weight: Font.DemiBold
            color: Theme.textSecondary
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            objectName: "notTargetLanguage.detail"
            Layout.alignment: Qt.AlignHCenter
            Layout.maximumWidth: root.width
            text: "这首歌的英文内容较少，暂不生成学习卡片。\nCantorella 目前专注于英语学习。"
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.pixelSize: 15
            color: Theme.textTertiary
        }
    }
}
