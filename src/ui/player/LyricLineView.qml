import QtQuick
import Cantorella.Player

// One row of the lyrics list: the line's words at the line's opacity (applied without
// animation; a past line fades with the list's 0.1 s position samples). A click on the playing
// row asks the list to copy it.
Item {
    id: row

    required property int index
    required property var words
    required property int lineState
    required property real lineOpacity
    property bool isCompact: false
    property int litPieces: 0

    signal lineClicked(int index)

    implicitHeight: wordsView.implicitHeight
    height: implicitHeight
    opacity: lineOpacity
    objectName: "lyricLine." + index
    // Read as a list row with the line's text; the playing line says so.
    Accessible.role: Accessible.ListItem
    Accessible.name: words.join(" ")
    Accessible.description: lineState === 0 ? "正在播放" : ""
    Accessible.ignored: words.join("").trim() === ""

    WrappingWordsView {
        id: wordsView
        width: row.width
        words: row.words
        lineState: row.lineState
        litPieces: row.lineState === 0 ? row.litPieces : 0
        isCompact: row.isCompact
    }

    TapHandler {
        onTapped: row.lineClicked(row.index)
    }
}
