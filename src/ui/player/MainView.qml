import QtQuick
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player

// The player's root view: the compact lyrics panel (360 wide) beside the study panel, which
// takes the rest; the song-story overlay above both and the application's toast at the bottom.
// The content never lays out below 680 × 800, whatever the window offers. The study panel,
// story overlay, story button and account icon come from the modules above as components;
// until the study panel is given, the right column stays empty.
Item {
    id: root

    required property PlayerViewModel vm
    required property CardStore cardStore
    required property CardLightingCoordinator cardLighting
    required property ToastCenter toastCenter
    required property ClockHandle clocks
    property bool reduceMotion: SystemMotion.reduceMotion

    property Component studyPanel: null
    property Component storyOverlay: null
    property Component storyButton: null
    property Component accountIcon: null

    signal retryLyricsRequested()
    signal retryCardsRequested()

    implicitWidth: 800
    implicitHeight: 950

    MainViewController {
        vm: root.vm
    }

    // No backdrop of its own: both columns are opaque (the window's colour is the ink too).

    RowLayout {
        id: content
        objectName: "mainView.content"
        width: Math.max(680, root.width)
        height: Math.max(800, root.height)
        spacing: 0

        CompactLyricsPanel {
            id: lyricsPanel
            objectName: "mainView.lyricsPanel"
            Layout.fillHeight: true
            Layout.preferredWidth: 360
            Layout.minimumWidth: 360
            Layout.maximumWidth: 360
            vm: root.vm
            cardStore: root.cardStore
            cardLighting: root.cardLighting
            toastCenter: root.toastCenter
            clocks: root.clocks
            reduceMotion: root.reduceMotion
            storyButton: root.storyButton
            accountIcon: root.accountIcon
            onRetryLyricsRequested: root.retryLyricsRequested()
        }

        Loader {
            id: rightColumn
            objectName: "mainView.studyPanel"
            // Still, drawn into a texture of its own: the column changes a few times a minute (a
            // new lyric line) while the lyrics side redraws the window every second, and
            // redrawing its glass cards, glows and gradients each time costs far more than the
            // texture. While the ambient animations run, the Now tab's wash changes with the
            // frame clock: the tab then caches its cards itself, below the column, and the
            // column draws directly (a wash step in here would re-render the whole column).
            layer.enabled: !ambient.active
            // The texture is opaque (the ink below the panel is drawn into it), so it is
            // copied to the window without blending.
            layer.effect: ShaderEffect { blending: false }
            Layout.fillWidth: true
            Layout.fillHeight: true
            sourceComponent: root.studyPanel !== null ? root.studyPanel : emptyPanel

            Rectangle {
                anchors.fill: parent
                color: Theme.backgroundInk
            }
        }
    }

    // The same gate as the panels' ambient animations.
    AnimationActivityView {
        id: ambient
        isPlaying: lyricsPanel.controller.isPlaying && !root.reduceMotion
    }

    Component {
        id: emptyPanel
        Item {}
    }

    // The song story over both columns; it decides by itself whether anything shows.
    Loader {
        objectName: "mainView.storyOverlay"
        anchors.fill: content
        active: root.storyOverlay !== null
        sourceComponent: root.storyOverlay
    }

    // Any toast of the application, over the bottom of the window and above every popup.
    ToastView {
        objectName: "mainView.toast"
        anchors.fill: parent
        z: Theme.zToast
        text: root.toastCenter.currentText
        toastId: root.toastCenter.currentId
        reduceMotion: root.reduceMotion
    }
}
