import QtQuick
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player

// The lyrics side of the main window: over an animated background, what is playing (art tile,
// title, artist, time labels and progress), the synced lyrics with their badges, or the
// fetching or failure state, and the offset slider. While nothing plays: the idle invitation.
// The story button and the account icon come from the modules above as components. The
// background (ink included) fills the panel, so the panel itself draws nothing.
Item {
    id: root
    FocusKeeper.pane: true

    required property PlayerViewModel vm
    required property CardStore cardStore
    required property CardLightingCoordinator cardLighting
    required property ToastCenter toastCenter
    required property ClockHandle clocks
    property bool reduceMotion: SystemMotion.reduceMotion
    property Component storyButton: null
    property Component accountIcon: null

    signal retryLyricsRequested()

    readonly property alias controller: ctl
    readonly property bool compact: ctl.isCompact
    readonly property real inset: compact ? 10 : 20
    clip: true

    CompactLyricsPanelController {
        id: ctl
        vm: root.vm
        clocks: root.clocks
        width: root.width
        breathing: gate.active
    }

    AnimationActivityView {
        id: gate
        anchors.fill: parent
        isPlaying: ctl.isPlaying && !root.reduceMotion
        // Still, the field and the particles are one opaque texture, drawn once.
        layer.enabled: !active
        layer.effect: ShaderEffect { blending: false }

        MeshGradientBackground {
            anchors.fill: parent
            elapsed: ctl.position
            isAnimating: gate.active
            frameClock: root.clocks.frameClock as FrameClock
            cycleDuration: 14
            maxDriftX: 20
            maxDriftY: -20
            maxScale: 1.05
        }
        ParticleCanvas {
            anchors.fill: parent
            isAnimating: gate.active
            particleCount: 46
            frameClock: root.clocks.frameClock as FrameClock
        }
    }

    IdleHeroState {
        objectName: "compactPanel.idle"
        anchors.fill: parent
        elapsed: ctl.position
        reduceMotion: root.reduceMotion
        opacity: ctl.hasTrack ? 0 : 1
        visible: opacity > 0
        Behavior on opacity {
            NumberAnimation { duration: Motion.crossfade.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
        }
    }

    // The song's column is built when the first song comes, not with the panel: until then the
    // idle invitation is all the panel shows, and the column's views (the header, the lyrics
    // area's states, the slider) took most of the player's creation before its first frame. Once
    // built it stays, for every later song and for the fade when a song ends.
    Loader {
        id: nowPlayingHost
        anchors.fill: parent
        // A column built with the view shows at once; one built for a song that comes later
        // fades in.
        property bool fadeIn: false
        active: false
        sourceComponent: nowPlayingColumn
    }
    function buildSongColumn() {
        if (ctl.hasTrack)
            nowPlayingHost.active = true
    }
    // A handler, not a binding on `active`: the column's creation reads the controller, whose
    // notifications would re-enter a binding that is still being written.
    Connections {
        target: ctl
        function onTrackChanged() { root.buildSongColumn() }
    }
    Component.onCompleted: {
        buildSongColumn()
        nowPlayingHost.fadeIn = true
    }

    Component {
        id: nowPlayingColumn
        ColumnLayout {
            id: nowPlaying
            objectName: "compactPanel.nowPlaying"
            spacing: 0
            // Built with the first song, it fades in as the idle invitation fades out.
            property bool built: !nowPlayingHost.fadeIn
            Component.onCompleted: built = true
            opacity: ctl.hasTrack && built ? 1 : 0
            visible: opacity > 0

            // The story button floats 72 points above the panel's bottom edge, which is above the
            // offset slider: the lyrics area ends above the button's top, so no lyric line scrolls
            // under it.
            readonly property real storyButtonClearance: storyButtonHost.item
                ? Math.max(0, storyButtonHost.aboveBottom + storyButtonHost.height
                              - offsetSlider.height - offsetSlider.Layout.bottomMargin)
                : 0
            Behavior on opacity {
                NumberAnimation { duration: Motion.crossfade.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
            }

            // The now-playing source cannot be reached.
            Rectangle {
                objectName: "compactPanel.banner"
                visible: ctl.showsBanner
                Layout.fillWidth: true
                implicitHeight: bannerRow.implicitHeight + 12
                color: Qt.alpha(Theme.neonPink, 0.15)
                RowLayout {
                    id: bannerRow
                    anchors { left: parent.left; right: parent.right; verticalCenter: parent.verticalCenter; leftMargin: 12; rightMargin: 12 }
                    spacing: 8
                    Icon { name: "exclamationmark.triangle.fill"; size: 12; color: Theme.neonPink }
                    Text {
                        Layout.fillWidth: true
                        text: "MPRIS 不可用 — 请检查 D-Bus 会话总线"
                        font.pixelSize: 11
                        font.weight: Font.Medium
                        color: Theme.textPrimary
                        wrapMode: Text.Wrap
                        maximumLineCount: 2
                        elide: Text.ElideRight
                    }
                }
                Rectangle {
                    anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
                    height: 1
                    color: Qt.alpha(Theme.neonPink, 0.35)
                }
            }

            NowPlayingHeader {
                Layout.fillWidth: true
                Layout.leftMargin: root.inset
                Layout.rightMargin: root.inset
                Layout.topMargin: root.compact ? 12 : 20
                Layout.bottomMargin: 6
                controller: ctl
                accountIcon: root.accountIcon
            }

            // Time labels and progress.
            ColumnLayout {
                Layout.fillWidth: true
                Layout.leftMargin: root.inset
                Layout.rightMargin: root.inset
                Layout.bottomMargin: 10
                spacing: 4
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 8
                    Text {
                        objectName: "compactPanel.elapsed"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        text: ctl.positionText
                        font: Theme.timecode
                        color: Theme.textSecondary
                    }
                    Item { Layout.fillWidth: true }
                    Text {
                        objectName: "compactPanel.duration"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        text: ctl.durationText
                        font: Theme.timecode
                        color: Theme.textSecondary
                    }
                }
                ReadOnlyProgressBar {
                    Layout.fillWidth: true
                    elapsed: ctl.position
                    duration: ctl.duration
                }
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.leftMargin: root.inset
                Layout.rightMargin: root.inset
                height: 1
                color: Qt.rgba(1, 1, 1, 0.08)
            }

            LyricsArea {
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.topMargin: root.compact ? 6 : 12
                Layout.bottomMargin: nowPlaying.storyButtonClearance
                controller: ctl
                vm: root.vm
                cardLighting: root.cardLighting
                toastCenter: root.toastCenter
                clocks: root.clocks
                reduceMotion: root.reduceMotion
                onRetryLyricsRequested: root.retryLyricsRequested()
            }

            // The story button's place in the keyboard's order, after the lyrics and before the
            // slider: a slot of no height on the slider's top edge, drawn above the slider. The
            // button hangs from it to its place 72 points above the panel's bottom edge.
            Item {
                Layout.fillWidth: true
                Layout.preferredHeight: 0
                z: 1

                Loader {
                    id: storyButtonHost
                    objectName: "compactPanel.storyButton"
                    readonly property real aboveBottom: 72
                    anchors {
                        right: parent.right
                        bottom: parent.bottom
                        rightMargin: 16
                        bottomMargin: aboveBottom - offsetSlider.height - offsetSlider.Layout.bottomMargin
                    }
                    active: ctl.hasTrack && root.storyButton !== null
                    sourceComponent: root.storyButton
                }
            }

            OffsetSliderView {
                id: offsetSlider
                objectName: "compactPanel.offsetSlider"
                Layout.fillWidth: true
                Layout.bottomMargin: 8
                vm: root.vm
                clocks: root.clocks
            }
        }
    }
}
