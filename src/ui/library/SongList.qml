import QtQuick
import QtQuick.Controls
import Cantorella.Session

// A list of song rows over a song list model (or a filter of one); `songs` is the list model
// itself, whose rows the hearts write through.
ListView {
    id: list

    property var songs: null
    signal songSelected(SongRecord song)

    clip: true
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar {}

    delegate: SongRow {
        width: ListView.view.width
        onHeartClicked: if (list.songs) list.songs.toggleFavorite(song)
        onTapped: if (song) list.songSelected(song)
    }
}
