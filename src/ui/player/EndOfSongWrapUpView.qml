import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session

// The end-of-song summary: how many lines were mastered during this song, and the song's heart
// when the song has a stored record.
Item {
    id: root

    property string headline: ""
    property bool celebrates: false
    property SongRecord song: null
    property bool reduceMotion: SystemMotion.reduceMotion

    signal toggleFavoriteRequested()

    implicitHeight: column.implicitHeight + 40

    FrostedFill {
        anchors.fill: parent
        radius: 16
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.12)
    }

    ColumnLayout {
        id: column
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.verticalCenter: parent.verticalCenter
        anchors.margins: 20
        spacing: 16

        Text {
            objectName: "wrapUp.headline"
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: root.headline
            textFormat: Text.PlainText
            font.pixelSize: 16
            font.weight: Font.DemiBold
            color: root.celebrates ? "white" : Theme.textSecondary
        }
        CTButton {
            objectName: "wrapUp.favorite"
            readonly property bool on: root.song !== null && root.song.isFavorite
            Layout.alignment: Qt.AlignHCenter
            visible: root.song !== null
            primary: on
            tone: CT.NeonPink
            reduceMotion: root.reduceMotion
            iconName: on ? "heart.fill" : "heart"
            text: "收藏这首歌"
            font.pixelSize: 13
            font.weight: Font.Medium
            Accessible.name: on ? "取消收藏这首歌" : "收藏这首歌"
            ToolTip.visible: hovered
            ToolTip.text: on ? "取消收藏" : "收藏这首歌"
            onClicked: root.toggleFavoriteRequested()
        }
    }
}
