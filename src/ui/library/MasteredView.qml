import QtQuick
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Library

// The Mastered tab: how many cards from how many songs are mastered, and the cards, newest
// first. A tap on a card (not on its controls or song label) asks to take it back out.
Item {
    id: root

    required property CardStore cardStore
    required property ToastCenter toastCenter
    required property CardLightingCoordinator cardLighting
    property bool reduceMotion: SystemMotion.reduceMotion
    // Paces the cards' transitions (the shared frame clock).
    property QtObject frameClock: null

    signal cardSelected(LearnedCard card)

    MasteredCardsModel {
        id: mastered
        objectName: "mastered.model"
        cardStore: root.cardStore
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Text {
            objectName: "mastered.summary"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 10
            Layout.bottomMargin: 10
            text: mastered.summary
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font.pixelSize: 12
            color: Theme.textSecondary
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
                objectName: "mastered.empty"
                anchors.fill: parent
                visible: mastered.count === 0
                emoji: "🏆"
                message: "还没有掌握任何卡片"
            }
            Loader {
                anchors.fill: parent
                active: mastered.count > 0
                sourceComponent: CardGrid {
                    objectName: "mastered.cards"
                    grid: mastered
                    cardStore: root.cardStore
                    toastCenter: root.toastCenter
                    cardLighting: root.cardLighting
                    reduceMotion: root.reduceMotion
                    frameClock: root.frameClock
                    showMasteredAt: true
                    tappableCells: true
                    onSongLabelTapped: card => root.cardSelected(card)
                    onCellTapped: card => mastered.selectedCard = card
                }
            }
        }
    }

    UnmasterPopover {
        objectName: "mastered.popover"
        card: mastered.selectedCard
        visible: mastered.selectedCard !== null
        onClosed: mastered.selectedCard = null
        onConfirmed: mastered.unmasterSelected()
    }
}
