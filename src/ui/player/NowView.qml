import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player

// The Now tab: the playing (or a locked library) song's cards in line order, the lit slot
// centred as the song plays, the panel states around the list and the end-of-song wrap-up.
FocusScope {
    id: root

    required property PlayerViewModel vm
    required property CardStore cardStore
    required property CardLightingCoordinator cardLighting
    required property ToastCenter toastCenter
    required property ClockHandle clocks
    property bool reduceMotion: SystemMotion.reduceMotion
    // A song picked in the library; null follows the playing song. The owner clears it on
    // returnRequested().
    property SongRecord lockedSong: null
    // Placed at the trailing end of the header row (the owner's song favourite button); it may
    // read `songKey` from its parent.
    property Component headerTrailing: null
    // The opaque colour the tab lies on, when the host knows it (the wash then draws opaque).
    property color backdrop: "transparent"

    signal returnRequested()
    signal retryCardsRequested()
    // A card's share control: the card and its slot's line time (seconds or undefined).
    signal shareRequested(LearnedCard card, var slotLineTimestamp)

    readonly property NowViewController controller: ctl

    NowViewController {
        id: ctl
        vm: root.vm
        cardStore: root.cardStore
        cardLighting: root.cardLighting
        clocks: root.clocks
        lockedSong: root.lockedSong
        reduceMotion: root.reduceMotion
        // Before the first song the list is not built, and there is no slot to go to.
        onScrollToSlotRequested: (slotId, alignTop, seconds, animated) => {
            if (contentHost.item)
                contentHost.item.cardList.scrollToSlot(slotId, alignTop, seconds, animated)
        }
    }

    AnimationActivityView {
        id: gate
        isPlaying: ctl.isPlaying && !root.reduceMotion
    }
    InterPanelHueEchoDriver {
        id: hue
        vm: root.vm
        frameClock: root.clocks.frameClock
        animating: gate.active
        stillElapsed: ctl.elapsedSnapshot
    }
    InterPanelHueEcho {
        objectName: "now.hueEcho"
        anchors.fill: parent
        washColor: hue.color
        backdrop: root.backdrop
    }

    NowIdleState {
        objectName: "now.idle"
        anchors.fill: parent
        opacity: ctl.hasTrack ? 0 : 1
        visible: opacity > 0
        Behavior on opacity {
            NumberAnimation { duration: Motion.crossfade.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
        }
    }

    // The song's content is built when the first song comes, not with the tab: until then the
    // idle state is all the tab shows. Once built it stays, for every later song and for the
    // fade when a song ends.
    Loader {
        id: contentHost
        anchors.fill: parent
        // A content built with the view shows at once; one built for a song that comes later
        // fades in.
        property bool fadeIn: false
        active: false
        sourceComponent: songContent
    }
    function buildSongContent() {
        if (ctl.hasTrack)
            contentHost.active = true
    }
    // A handler, not a binding on `active`: the content's creation writes to the controller,
    // whose one notification would re-enter a binding that is still being written.
    Connections {
        target: ctl
        function onChanged() { root.buildSongContent() }
    }
    Component.onCompleted: {
        buildSongContent()
        contentHost.fadeIn = true
    }

    Component {
        id: songContent
        ColumnLayout {
            id: content
            objectName: "now.content"
            spacing: 0
            readonly property Item cardList: list
            // Built with the first song, it fades in as the idle state fades out.
            property bool built: !contentHost.fadeIn
            Component.onCompleted: built = true
            // While the wash below follows the frame clock, the cards above it are cached in a
            // texture of their own, so that a wash step composites it instead of redrawing every
            // card (the study column caches the whole tab while the wash is still). Not while the
            // list scrolls: each of its frames would render the texture anew and then draw it.
            layer.enabled: gate.active && !list.scrolling
            opacity: ctl.hasTrack && built ? 1 : 0
            visible: opacity > 0
            Behavior on opacity {
                NumberAnimation { duration: Motion.crossfade.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
            }

            // Released with a 0.25 s ease-in-out, with Reduce Motion too: the chip fades while its
            // row closes.
            ReturnToCurrentChip {
                id: returnChip
                objectName: "now.returnChip"
                property real shown: root.lockedSong !== null ? 1 : 0
                Behavior on shown {
                    NumberAnimation { duration: 250; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
                }
                visible: shown > 0
                opacity: shown
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredHeight: implicitHeight * shown
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.topMargin: 10 * shown
                Layout.bottomMargin: 4 * shown
                reduceMotion: root.reduceMotion
                onClicked: root.returnRequested()
            }

            RowLayout {
                objectName: "now.header"
                visible: ctl.displayedRecord !== null
                Layout.fillWidth: true
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.topMargin: 10
                spacing: 8
                Text {
                    objectName: "now.masteredCount"
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    text: ctl.masteredText
                    textFormat: Text.PlainText
                    font: Theme.smallLabel
                    color: Theme.textSecondary
                }
                Item { Layout.fillWidth: true }
                Loader {
                    readonly property string songKey: ctl.displayedRecord ? ctl.displayedRecord.key : ""
                    sourceComponent: root.headerTrailing
                }
            }
            LearnedProgressBar {
                visible: ctl.displayedRecord !== null
                Layout.fillWidth: true
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.bottomMargin: 8
                fraction: ctl.masteredFraction
            }

            Item {
                Layout.fillWidth: true
                Layout.fillHeight: true

                NowCardList {
                    id: list
                    anchors.fill: parent
                    controller: ctl
                    cardStore: root.cardStore
                    toastCenter: root.toastCenter
                    cardLighting: root.cardLighting
                    reduceMotion: root.reduceMotion
                    frameClock: root.clocks.frameClock
                    outsideStops: backToCurrent
                    onShareRequested: (card, slotLineTimestamp) => root.shareRequested(card, slotLineTimestamp)
                    onRetryCardsRequested: root.retryCardsRequested()
                }

                BackToCurrentButton {
                    id: backToCurrent
                    buttonObjectName: "now.backToCurrent"
                    anchors.horizontalCenter: parent.horizontalCenter
                    anchors.bottom: parent.bottom
                    anchors.bottomMargin: 12
                    shown: ctl.showBackToCurrent
                    reduceMotion: root.reduceMotion
                    // Pressed from the keyboard, the chip goes with the list's hold: the focus moves
                    // to the tab's first control above the list (not into it, which would hold the
                    // list again), and the list returns to the lit card.
                    onClicked: {
                        const focused = root.Window.activeFocusItem
                        let p = focused
                        while (p && p !== backToCurrent)
                            p = p.parent
                        if (p && focused.visualFocus === true) {
                            chipFocus.reason = Qt.TabFocusReason
                            chipFocus.enterFirst(content)
                        }
                        ctl.returnToCurrentCard()
                    }
                }
                FocusReturn { id: chipFocus }
            }
        }
    }
}
