import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player

// The lyrics area of the panel, in this order: the failure state when no lyrics were found,
// the badges and the lyrics when there are lines, the fetching state while loading, else empty.
Item {
    id: root

    required property CompactLyricsPanelController controller
    required property PlayerViewModel vm
    required property CardLightingCoordinator cardLighting
    required property ToastCenter toastCenter
    required property ClockHandle clocks
    property bool reduceMotion: SystemMotion.reduceMotion

    signal retryLyricsRequested()

    readonly property int area: controller.lyricsArea

    ColumnLayout {
        objectName: "lyricsArea.lines"
        visible: root.area === CompactLyricsPanelController.LinesArea
        anchors.fill: parent
        spacing: 6

        RowLayout {
            objectName: "lyricsArea.badges"
            Layout.leftMargin: 4
            Layout.rightMargin: 4
            spacing: 6
            SourceBadgeView { source: root.controller.source }
            LanguageBadgeView { language: root.controller.language }
        }
        // Made when lines arrive, so every song's list starts afresh.
        Loader {
            Layout.fillWidth: true
            Layout.fillHeight: true
            active: root.area === CompactLyricsPanelController.LinesArea
            sourceComponent: LyricsView {
                objectName: "lyricsView"
                vm: root.vm
                cardLighting: root.cardLighting
                toastCenter: root.toastCenter
                clocks: root.clocks
                reduceMotion: root.reduceMotion
                isCompact: root.controller.isCompact
            }
        }
    }

    ColumnLayout {
        objectName: "lyricsArea.fetching"
        visible: root.area === CompactLyricsPanelController.FetchingArea
        anchors.centerIn: parent
        spacing: 10
        BusyIndicator {
            Layout.alignment: Qt.AlignHCenter
            running: parent.visible
            palette.dark: Theme.neonCyan
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Layout.alignment: Qt.AlignHCenter
            text: "正在获取歌词…"
            font.pixelSize: 12
            color: Theme.textSecondary
        }
    }

    // The failure state lies on the brightest part of the panel's colour field, where its grey
    // texts would stand at 1.4 to 3 : 1: on the frosted fill (as the story's texts are), the
    // heading stands above 4.5 : 1, and the detail with its white raised from 0.45 to 0.6.
    FrostedFill {
        objectName: "lyricsArea.failurePlate"
        visible: failure.visible
        anchors.centerIn: failure
        width: failure.width - 32
        height: failure.implicitHeight + 32
        radius: 14
    }
    ColumnLayout {
        id: failure
        objectName: "lyricsArea.failure"
        visible: root.area === CompactLyricsPanelController.FailureArea
        anchors.centerIn: parent
        width: parent.width
        spacing: 10
        Icon {
            Layout.alignment: Qt.AlignHCenter
            name: "music.note.list"
            size: 28
            color: Theme.textTertiary
        }
        // Announced each time the failure shows, so a retry that fails again is heard.
        AnnouncedText {
            objectName: "lyricsArea.failureTitle"
            Layout.alignment: Qt.AlignHCenter
            text: root.controller.failureTitle
            font.pixelSize: 14
            font.weight: Font.Medium
            color: Theme.textSecondary
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            objectName: "lyricsArea.failureDetail"
            Layout.fillWidth: true
            Layout.leftMargin: 8
            Layout.rightMargin: 8
            text: root.controller.failureDetail
            textFormat: Text.PlainText
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.pixelSize: 11
            color: Qt.alpha("white", 0.6)
        }
        CTButton {
            objectName: "lyricsArea.retry"
            visible: root.controller.showsRetry
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 2
            tone: CT.NeonCyan
            reduceMotion: root.reduceMotion
            text: "重试"
            iconName: "arrow.clockwise"
            font.pixelSize: 12
            font.weight: Font.Medium
            onClicked: root.retryLyricsRequested()
        }
    }
}
