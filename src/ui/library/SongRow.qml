import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session

// One song of a list: music tile, title (with the playing dot) and artist, when it was last
// played and the heart. The heart takes its own press; a tap anywhere else is the list's.
Item {
    id: root

    // Null once the store has released the record (the list is fetched again at once).
    required property SongRecord song
    required property bool isPlaying
    required property string lastPlayedText

    signal heartClicked()
    signal tapped()

    implicitHeight: row.implicitHeight + 12
    Accessible.role: Accessible.ListItem
    Accessible.name: song ? song.title + " " + song.artist : ""

    TapHandler {
        onTapped: root.tapped()
    }
    // The keyboard picks the row as a tap does.
    activeFocusOnTab: true
    Keys.onSpacePressed: root.tapped()
    Keys.onReturnPressed: root.tapped()
    FocusRing { inset: 2; radius: 8 }

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        anchors.topMargin: 6
        anchors.bottomMargin: 6
        spacing: 10

        Rectangle {
            Layout.preferredWidth: 40
            Layout.preferredHeight: 40
            radius: 6
            color: Qt.alpha("white", 0.08)
            Icon {
                anchors.centerIn: parent
                name: "music.note"
                size: 16
                color: Qt.alpha(Theme.neonCyan, 0.7)
                Accessible.ignored: true
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2

            RowLayout {
                Layout.fillWidth: true
                spacing: 4
                Rectangle {
                    objectName: "songRow.playingDot"
                    visible: root.isPlaying
                    Layout.preferredWidth: 6
                    Layout.preferredHeight: 6
                    radius: 3
                    color: Theme.neonCyan
                }
                Text {
                    Layout.fillWidth: true
                    text: root.song ? root.song.title : ""
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    font.pixelSize: 13
                    font.weight: Font.Medium
                    color: "white"
                }
            }
            Text {
                Layout.fillWidth: true
                text: root.song ? root.song.artist : ""
                textFormat: Text.PlainText
                elide: Text.ElideRight
                font.pixelSize: 11
                color: Theme.textSecondary
            }
        }

        ColumnLayout {
            Layout.alignment: Qt.AlignVCenter
            spacing: 4

            Text {
                Layout.alignment: Qt.AlignRight
                text: root.lastPlayedText
                textFormat: Text.PlainText
                font.pixelSize: 11
                color: Qt.alpha("white", 0.45)
            }
            AbstractButton {
                id: heart
                objectName: "songRow.heart"
                readonly property bool on: root.song ? root.song.isFavorite : false
                Layout.alignment: Qt.AlignRight
                implicitWidth: 20
                implicitHeight: 18
                Accessible.name: on ? "取消收藏" : "收藏"
                contentItem: Icon {
                    name: heart.on ? "heart.fill" : "heart"
                    size: 14
                    color: heart.on ? Theme.neonPink : Qt.alpha("white", 0.4)
                }
                onClicked: root.heartClicked()
                FocusRing { inset: -3; radius: 6 }
            }
        }
    }
}
