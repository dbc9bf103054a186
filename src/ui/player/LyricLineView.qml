import QtQuick
import Cantorella.Design
import Cantorella.Player

// One row of the lyrics list: the line's words at the line's opacity (applied without
// animation; a past line fades with the list's 0.1 s position samples). A click on the playing
// row asks the list to copy it.
//
// The playing line is set larger and may wrap anew, so a row's height changes when its line
// starts or stops playing. The row then eases from the height it showed to its new one over a
// scroll's time, on the frame clock, and the rows below move as a scroll does, also where the
// list cannot scroll (the first lines of a song). Its words take their new size at once. Any
// other change of height (a new width) and every change under Reduce Motion applies at once.
Item {
    id: row

    required property int index
    required property var words
    required property int lineState
    required property real lineOpacity
    property bool isCompact: false
    property int litPieces: 0
    property QtObject frameClock: null
    property bool reduceMotion: false
    // The height the row still shows above (+) or below (−) its words' height.
    readonly property real heightLag: resize.lag * (1 - resize.progress)

    signal lineClicked(int index)

    implicitHeight: wordsView.implicitHeight
    height: implicitHeight + heightLag
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

    FrameTween {
        id: resize
        property real lag: 0
        // The words' height, and the width it was laid out at.
        property real settledHeight: 0
        property real settledWidth: 0
        frameClock: row.frameClock
    }
    // A new width re-wraps the words before this runs (their height follows at once); a later
    // change of height at that width comes from the line's state.
    onWidthChanged: Qt.callLater(() => resize.settledWidth = row.width)
    onImplicitHeightChanged: {
        const shown = resize.settledHeight + heightLag
        if (resize.settledHeight > 0 && width === resize.settledWidth && !reduceMotion) {
            resize.lag = shown - implicitHeight
            resize.start(Motion.easeInOutMedium.duration / 1000, false)
        } else {
            resize.stop()
            resize.lag = 0
        }
        resize.settledHeight = implicitHeight
        resize.settledWidth = width
    }

    TapHandler {
        onTapped: row.lineClicked(row.index)
    }
}
