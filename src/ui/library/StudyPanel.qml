import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player
import Cantorella.Library

// The study side of the player window: the migration's warning when it failed, the tab picker
// and the selected tab, built afresh on every change. Picking a song or a card in a library tab
// locks the Now tab on that song and shows it; the Now tab's return chip clears the lock.
FocusScope {
    id: root
    FocusKeeper.pane: true

    required property PlayerViewModel vm
    required property CardStore cardStore
    required property CardLightingCoordinator cardLighting
    required property ToastCenter toastCenter
    required property ClockHandle clocks
    property bool reduceMotion: SystemMotion.reduceMotion

    signal retryCardsRequested()
    // A card's share control in the Now tab: the card and its slot's line time (or undefined).
    signal shareRequested(LearnedCard card, var slotLineTimestamp)

    readonly property StudyPanelController controller: ctl
    readonly property Item currentTab: stack.currentItem

    StudyPanelController {
        id: ctl
        vm: root.vm
        cardStore: root.cardStore
        onSelectedTabChanged: stack.replace(root.tabComponent(selectedTab))
    }

    // A pick replaces the tab it came from: do it after the press has been delivered, so no
    // handler of the leaving tab sees the rest of that press. When the focus was in the leaving
    // tab (the row Return picked), the tab that comes takes it on its first control.
    function pick(select, object) {
        tabFocus.capture(root.Window.window)
        if (tabFocus.opener && !root.contains(stack.currentItem, tabFocus.opener))
            tabFocus.opener = null
        Qt.callLater(root.pickNow, select, object)
    }
    function pickNow(select, object) {
        select(object)
        if (tabFocus.opener)
            tabFocus.enterFirst(stack.currentItem)
        tabFocus.opener = null
    }
    function contains(view, item) {
        for (let p = item; p; p = p.parent) {
            if (p === view)
                return true
        }
        return false
    }
    FocusReturn { id: tabFocus }

    function tabComponent(tab) {
        switch (tab) {
        case StudyPanelController.History: return historyTab
        case StudyPanelController.Favorites: return favoritesTab
        case StudyPanelController.Mastered: return masteredTab
        default: return nowTab
        }
    }

    // The panel's tint (10, 5, 26) at 45 % over the window's ink, drawn as the one opaque colour
    // it makes: an opaque fill is neither blended nor drawn where something opaque covers it.
    readonly property color panelColor: Qt.tint(Theme.backgroundInk, Qt.rgba(10 / 255, 5 / 255, 26 / 255, 0.45))
    Rectangle {
        anchors.fill: parent
        color: root.panelColor
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        MigrationErrorBanner {
            objectName: "studyPanel.migrationBanner"
            Layout.fillWidth: true
            visible: ctl.migrationError !== ""
            message: ctl.migrationError
        }
        LibrarySegmentedPicker {
            objectName: "studyPanel.picker"
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 10
            Layout.bottomMargin: 10
            titles: ctl.tabTitles
            currentIndex: ctl.selectedTab
            onActivated: index => ctl.selectedTab = index
        }
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Qt.alpha("white", 0.15)
        }
        StackView {
            id: stack
            objectName: "studyPanel.tabs"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            initialItem: root.tabComponent(ctl.selectedTab)
            // Holds the focus when the control that had it went with its tab: named after the
            // tab shown, so that a screen reader does not announce an unnamed pane.
            Accessible.name: ctl.tabTitles[ctl.selectedTab] || ""

            // Reduced motion: a plain fade, animated only when a selection switches to Now.
            readonly property int duration: root.reduceMotion && !ctl.switchedBySelection ? 0 : ctl.switchDuration
            readonly property real slide: root.reduceMotion ? 0 : 24
            replaceEnter: Transition {
                ParallelAnimation {
                    NumberAnimation { property: "x"; from: stack.slide; to: 0; duration: stack.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
                    NumberAnimation { property: "opacity"; from: 0; to: 1; duration: stack.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
                }
            }
            replaceExit: Transition {
                ParallelAnimation {
                    NumberAnimation { property: "x"; from: 0; to: stack.slide; duration: stack.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
                    NumberAnimation { property: "opacity"; from: 1; to: 0; duration: stack.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
                }
            }
        }
    }

    // The hairline on the panel's leading edge.
    Rectangle {
        width: 1
        height: parent.height
        color: Qt.alpha("white", 0.1)
    }

    Component {
        id: nowTab
        NowView {
            objectName: "studyPanel.now"
            vm: root.vm
            cardStore: root.cardStore
            cardLighting: root.cardLighting
            toastCenter: root.toastCenter
            clocks: root.clocks
            reduceMotion: root.reduceMotion
            lockedSong: ctl.lockedSong
            headerTrailing: favoriteButton
            backdrop: root.panelColor
            onReturnRequested: ctl.clearLock()
            onRetryCardsRequested: root.retryCardsRequested()
            onShareRequested: (card, slotLineTimestamp) => root.shareRequested(card, slotLineTimestamp)
        }
    }
    Component {
        id: favoriteButton
        SongFavoriteButton {
            objectName: "studyPanel.songFavorite"
            songKey: parent && parent.songKey !== undefined ? parent.songKey : ""
            cardStore: root.cardStore
            reduceMotion: root.reduceMotion
        }
    }
    Component {
        id: historyTab
        HistoryView {
            objectName: "studyPanel.history"
            cardStore: root.cardStore
            clocks: root.clocks
            currentSongKey: ctl.currentSongKey
            onSongSelected: song => root.pick(ctl.selectSong, song)
        }
    }
    Component {
        id: favoritesTab
        FavoritesView {
            objectName: "studyPanel.favorites"
            cardStore: root.cardStore
            clocks: root.clocks
            toastCenter: root.toastCenter
            cardLighting: root.cardLighting
            reduceMotion: root.reduceMotion
            currentSongKey: ctl.currentSongKey
            onSongSelected: song => root.pick(ctl.selectSong, song)
            onCardSelected: card => root.pick(ctl.selectCard, card)
        }
    }
    Component {
        id: masteredTab
        MasteredView {
            objectName: "studyPanel.mastered"
            cardStore: root.cardStore
            frameClock: root.clocks.frameClock
            toastCenter: root.toastCenter
            cardLighting: root.cardLighting
            reduceMotion: root.reduceMotion
            onCardSelected: card => root.pick(ctl.selectCard, card)
        }
    }
}
