import QtQuick
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player

// A stored card as the screens place it: the glass card over the stored card's values (mastered
// is the card's isMastered), its buttons writing through the store (a failure toasts), the
// optional song line and mastered time, and a tap anywhere lighting the card by hand.
Item {
    id: root

    required property LearnedCard card
    required property CardStore cardStore
    required property ToastCenter toastCenter
    required property CardLightingCoordinator cardLighting
    property bool showSongLabel: false
    property bool showMasteredAt: false
    property bool isActive: false
    property bool isDimmed: false
    property real preflightProgress: 0
    property bool hasSongLabelAction: false
    property bool hasShare: false
    property bool hasRepeatLabel: false
    property int repeatN: 1
    property int repeatTotal: 1
    // Seconds, or undefined: the slot's line time replaces the card's own.
    property var slotLineTimestamp: undefined
    property bool reduceMotion: SystemMotion.reduceMotion
    // Paces the card's transitions (the shared frame clock); none: they land at once.
    property QtObject frameClock: null

    signal songLabelTapped()
    signal shareRequested()

    implicitHeight: column.implicitHeight
    Accessible.role: Accessible.Grouping
    Accessible.name: card ? card.en : ""
    // The card of the line playing says so, as that lyric line does.
    Accessible.description: isActive ? "正在播放" : ""

    ExtendedGlassCardController {
        id: ctl
        card: root.card
        cardStore: root.cardStore
        toastCenter: root.toastCenter
        cardLighting: root.cardLighting
        slotLineTimestamp: root.slotLineTimestamp
        isActive: root.isActive
        isDimmed: root.isDimmed
    }

    TapHandler {
        onTapped: ctl.select()
    }

    ColumnLayout {
        id: column
        width: parent.width
        spacing: 0

        GlassCardView {
            id: glassCard
            objectName: "extendedGlassCard.card"
            Layout.fillWidth: true
            Layout.preferredHeight: implicitHeight
            visible: root.card !== null
            cardId: ctl.cardId
            en: root.card ? root.card.en : ""
            cn: root.card ? root.card.cn : ""
            note: root.card ? root.card.note : ""
            example: root.card ? root.card.example : ""
            tag: root.card ? root.card.tag : ""
            timeChipText: ctl.timeChipText
            timeChipAccessibleText: ctl.timeChipAccessibleText
            pronunciationText: ctl.pronunciationText
            culturalText: ctl.culturalText
            learned: root.card ? root.card.isMastered : false
            isFavorite: root.card ? root.card.isFavorite : false
            hasFavoriteAction: true
            hasShare: root.hasShare
            isActive: root.isActive
            isDimmed: root.isDimmed
            preflightProgress: root.preflightProgress
            hasRepeatLabel: root.hasRepeatLabel
            repeatN: root.repeatN
            repeatTotal: root.repeatTotal
            reduceMotion: root.reduceMotion
            frameClock: root.frameClock
            onToggleRequested: ctl.toggleMastered()
            onToggleFavoriteRequested: ctl.toggleFavorite()
            onShareRequested: root.shareRequested()
        }

        // Centred under the card: the block is only as wide as its widest line (texts in a
        // layout do not stretch), so it is the block that is centred.
        ColumnLayout {
            Layout.alignment: Qt.AlignHCenter
            Layout.maximumWidth: column.width
            Layout.topMargin: 6
            spacing: 2
            visible: root.showSongLabel && root.card !== null && root.card.song !== null

            AbstractButtonText {
                objectName: "extendedGlassCard.songLabel"
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: column.width
                text: visible ? root.card.song.title + " - " + root.card.song.artist : ""
                activeFocusOnTab: visible && root.hasSongLabelAction
                onClicked: if (root.hasSongLabelAction) root.songLabelTapped()
            }
            RelativeTimeLabel {
                Layout.alignment: Qt.AlignHCenter
                visible: root.showMasteredAt && root.card !== null && !isNaN(root.card.masteredAt.getTime())
                date: root.card ? root.card.masteredAt : new Date(NaN)
                now: new Date()
                font.pixelSize: 10
                color: Theme.textTertiary
            }
        }
    }

    component AbstractButtonText: Text {
        signal clicked()
        textFormat: Text.PlainText
        elide: Text.ElideRight
        font.pixelSize: 11
        color: Qt.alpha(Theme.neonCyan, 0.8)
        Accessible.role: Accessible.Button
        Accessible.name: text
        Accessible.ignored: !visible
        TapHandler { onTapped: parent.clicked() }
        FocusRing { inset: -3; radius: 4 }
    }
}
