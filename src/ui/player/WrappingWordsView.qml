import QtQuick
import Cantorella.Player

// One lyric line as a single wrapping text. Past and future rows are plain text; the playing
// row lights its first `litPieces` pieces. Lit and unlit share one font, so lighting a word
// never moves the wrap. Never truncated: the height grows with the rows.
Text {
    renderType: Text.NativeRendering
    id: root

    property var words: []
    property int litPieces: 0
    // 0 active, 1 past, 2 future (LineState)
    property int lineState: 2
    property bool isCompact: false
    readonly property bool active: lineState === 0

    wrapMode: Text.Wrap
    color: "white"
    textFormat: active ? Text.RichText : Text.PlainText
    text: active ? PlayerTexts.wordRowRichText(words, litPieces) : words.join(" ")
    font.pixelSize: active ? (isCompact ? 17 : 22) : (isCompact ? 14 : 18)
    font.weight: active ? Font.DemiBold : Font.Normal
}
