import QtQuick
import QtQuick.Controls
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player

// A lazily built grid of large study cards: a list of rows of `grid.columns` cells (the column
// count follows the width), 12 points apart, inset 16 points on every edge. The cell's own
// controls and its song label take their presses; `cellTapped` reports a tap elsewhere.
ListView {
    id: list

    required property var grid
    required property CardStore cardStore
    required property ToastCenter toastCenter
    required property CardLightingCoordinator cardLighting
    property bool reduceMotion: SystemMotion.reduceMotion
    property bool showMasteredAt: false
    property bool tappableCells: false

    signal songLabelTapped(LearnedCard card)
    signal cellTapped(LearnedCard card)

    clip: true
    boundsBehavior: Flickable.StopAtBounds
    spacing: 12
    topMargin: 16
    bottomMargin: 16
    model: grid
    ScrollBar.vertical: ScrollBar {}

    Binding {
        target: list.grid
        property: "viewWidth"
        value: list.width
    }

    delegate: Item {
        id: gridRow
        required property var cards
        width: ListView.view.width
        implicitHeight: cells.implicitHeight
        height: implicitHeight

        Row {
            id: cells
            x: 16
            spacing: 12

            Repeater {
                model: gridRow.cards
                delegate: Item {
                    id: cell
                    required property LearnedCard modelData
                    // Set by the song label's tap, read once the whole press has been handled.
                    property bool labelTapped: false
                    objectName: "cardGrid.cell"
                    width: list.grid.cellWidth
                    implicitHeight: glass.implicitHeight
                    height: implicitHeight

                    function finishTap() {
                        if (!labelTapped && modelData)
                            list.cellTapped(modelData)
                        labelTapped = false
                    }

                    ExtendedGlassCardView {
                        id: glass
                        width: parent.width
                        card: cell.modelData
                        cardStore: list.cardStore
                        toastCenter: list.toastCenter
                        cardLighting: list.cardLighting
                        showSongLabel: true
                        showMasteredAt: list.showMasteredAt
                        hasSongLabelAction: true
                        reduceMotion: list.reduceMotion
                        onSongLabelTapped: {
                            cell.labelTapped = true
                            if (cell.modelData)
                                list.songLabelTapped(cell.modelData)
                        }
                    }
                    TapHandler {
                        enabled: list.tappableCells
                        onTapped: Qt.callLater(cell.finishTap)
                    }
                }
            }
        }
    }
}
