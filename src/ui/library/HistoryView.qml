import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Library

// The History tab: every song played, last played first, filtered live by title or artist.
// Built afresh on every visit: a fresh fetch and an empty search.
Item {
    id: root

    required property CardStore cardStore
    required property ClockHandle clocks
    property string currentSongKey

    signal songSelected(SongRecord song)

    HistoryModel {
        id: songs
        cardStore: root.cardStore
        clocks: root.clocks
        currentSongKey: root.currentSongKey
    }
    HistoryFilterModel {
        id: filtered
        objectName: "history.filter"
        songs: songs
        searchText: field.text
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 10
            Layout.bottomMargin: 10
            implicitHeight: bar.implicitHeight + 16
            radius: 8
            color: Qt.alpha("white", 0.06)

            FocusRing { control: field; radius: 8 }

            RowLayout {
                id: bar
                anchors.fill: parent
                anchors.leftMargin: 12
                anchors.rightMargin: 12
                anchors.topMargin: 8
                anchors.bottomMargin: 8
                spacing: 8

                Icon {
                    name: "magnifyingglass"
                    size: 13
                    color: Qt.alpha("white", 0.45)
                    Accessible.ignored: true
                }
                TextField {
                    id: field
                    objectName: "history.search"
                    Layout.fillWidth: true
                    placeholderText: "搜索歌曲或艺人"
                    Accessible.name: placeholderText
                    placeholderTextColor: Qt.alpha("white", 0.45)
                    color: "white"
                    font.pixelSize: 13
                    padding: 0
                    background: null
                }
                AbstractButton {
                    objectName: "history.clear"
                    visible: field.text.length > 0
                    implicitWidth: 16
                    implicitHeight: 16
                    Accessible.name: "清除搜索"
                    contentItem: Icon {
                        name: "xmark.circle.fill"
                        size: 13
                        color: Qt.alpha("white", 0.45)
                    }
                    onClicked: field.clear()
                    FocusRing { inset: -3 }
                }
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            LibraryEmptyState {
                objectName: "history.empty"
                anchors.fill: parent
                visible: filtered.emptyMessage !== ""
                emoji: "🎵"
                message: filtered.emptyMessage
            }
            SongList {
                objectName: "history.list"
                anchors.fill: parent
                visible: filtered.emptyMessage === ""
                model: filtered
                songs: songs
                onSongSelected: song => root.songSelected(song)
            }
        }
    }
}
