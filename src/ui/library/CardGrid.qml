import QtQuick
import QtQuick.Controls
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player
import Cantorella.Library

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
    // Paces the cards' transitions (the shared frame clock).
    property QtObject frameClock: null
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
                    objectName: "cardGrid.cell"
                    width: list.grid.cellWidth
                    implicitHeight: glass.implicitHeight
                    height: implicitHeight

                    CellTapArbiter {
                        id: taps
                        onCellTapConfirmed: if (cell.modelData) list.cellTapped(cell.modelData)
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
                        frameClock: list.frameClock
                        onSongLabelTapped: {
                            taps.labelTapped()
                            if (cell.modelData)
                                list.songLabelTapped(cell.modelData)
                        }
                    }
                    TapHandler {
                        enabled: list.tappableCells
                        onTapped: taps.cellTapped()
                    }
                }
            }
        }
    }
}
