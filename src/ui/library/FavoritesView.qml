import QtQuick
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Library

// The Favorites tab: favourite songs as rows and favourite cards as a grid, in two segments. Both
// lists are fetched when the tab is built; switching segments fetches nothing. An entry
// un-favourited in place stays, showing its cleared state, until the tab is built again.
Item {
    id: root

    required property CardStore cardStore
    required property ClockHandle clocks
    required property ToastCenter toastCenter
    required property CardLightingCoordinator cardLighting
    property bool reduceMotion: SystemMotion.reduceMotion
    property string currentSongKey

    signal songSelected(SongRecord song)
    signal cardSelected(LearnedCard card)

    // 0: songs, 1: cards.
    property int segment: 0

    FavoriteSongsModel {
        id: songs
        objectName: "favorites.songsModel"
        cardStore: root.cardStore
        clocks: root.clocks
        currentSongKey: root.currentSongKey
    }
    FavoriteCardsModel {
        id: cards
        objectName: "favorites.cardsModel"
        cardStore: root.cardStore
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        LibrarySegmentedPicker {
            objectName: "favorites.picker"
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 10
            Layout.bottomMargin: 10
            titles: ["收藏歌曲", "收藏例句"]
            currentIndex: root.segment
            onActivated: index => root.segment = index
        }
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Qt.alpha("white", 0.15)
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            LibraryEmptyState {
                objectName: "favorites.songsEmpty"
                anchors.fill: parent
                visible: root.segment === 0 && songs.count === 0
                emoji: "❤️"
                message: "还没有收藏的歌曲"
            }
            SongList {
                objectName: "favorites.songs"
                anchors.fill: parent
                visible: root.segment === 0 && songs.count > 0
                model: songs
                songs: songs
                onSongSelected: song => root.songSelected(song)
            }
            LibraryEmptyState {
                objectName: "favorites.cardsEmpty"
                anchors.fill: parent
                visible: root.segment === 1 && cards.count === 0
                emoji: "❤️"
                message: "还没有收藏的例句"
            }
            Loader {
                anchors.fill: parent
                active: root.segment === 1 && cards.count > 0
                sourceComponent: CardGrid {
                    objectName: "favorites.cards"
                    grid: cards
                    cardStore: root.cardStore
                    toastCenter: root.toastCenter
                    cardLighting: root.cardLighting
                    reduceMotion: root.reduceMotion
                    frameClock: root.clocks.frameClock
                    onSongLabelTapped: card => root.cardSelected(card)
                }
            }
        }
    }
}
