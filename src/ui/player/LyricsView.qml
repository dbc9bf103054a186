import QtQuick
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player

// The scrolling list of the playing song's synced lines. It keeps the playing line in the
// vertical centre while it follows playback; a user scroll stops following and shows
// "回到当前", and following comes back 3 s after the last user scroll. The logic is the
// controller's; this file performs its scrolls and reports geometry and offsets.
Item {
    id: root

    required property PlayerViewModel vm
    required property CardLightingCoordinator cardLighting
    required property ToastCenter toastCenter
    required property ClockHandle clocks
    property bool reduceMotion: SystemMotion.reduceMotion
    property bool isCompact: false

    readonly property alias controller: ctl
    readonly property real lineSpacing: isCompact ? 12 : 16
    readonly property real linePadding: isCompact ? 12 : 40
    readonly property color fadeInk: Qt.rgba(0.031, 0.016, 0.094, 1)

    onHeightChanged: ctl.setViewportHeight(height)
    Component.onCompleted: ctl.setViewportHeight(height)

    LyricsViewController {
        id: ctl
        vm: root.vm
        cardLighting: root.cardLighting
        toastCenter: root.toastCenter
        clocks: root.clocks
        reduceMotion: root.reduceMotion
        onScrollRequested: (index, animated) => root.scrollToLine(index, animated)
    }

    function scrollToLine(index, animated) {
        lines.forceLayout()
        const row = repeater.itemAt(index)
        if (!row)
            return
        // Where the row will be once every row has eased to its words' height.
        let lagAbove = 0
        for (let i = 0; i < index; ++i) {
            const above = repeater.itemAt(i)
            if (above)
                lagAbove += above.heightLag
        }
        let lagAll = lagAbove
        for (let i = index; i < repeater.count; ++i) {
            const below = repeater.itemAt(i)
            if (below)
                lagAll += below.heightLag
        }
        const rowY = row.mapToItem(flick.contentItem, 0, 0).y - lagAbove
        const target = ctl.scrollTarget(rowY, row.implicitHeight, flick.height, flick.contentHeight - lagAll)
        scroll.stop()
        if (animated) {
            scroll.from = flick.contentY
            scroll.to = target
            scroll.start(Motion.easeInOutMedium.duration / 1000, false)
        } else {
            flick.contentY = target
        }
    }

    Flickable {
        id: flick
        objectName: "lyricsView.flickable"
        anchors.fill: parent
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        contentWidth: width
        contentHeight: lines.height
        onContentYChanged: ctl.handleOffsetChange(contentY)
        onMovementStarted: scroll.stop()

        Column {
            id: lines
            x: root.linePadding
            width: flick.width - 2 * root.linePadding
            spacing: root.lineSpacing

            Item {
                width: 1
                height: ctl.topSpacerHeight
            }
            Repeater {
                id: repeater
                model: ctl.model
                delegate: LyricLineView {
                    width: lines.width
                    isCompact: root.isCompact
                    litPieces: ctl.activeLitPieces
                    frameClock: root.clocks.frameClock
                    reduceMotion: root.reduceMotion
                    onLineClicked: (index) => ctl.copyLine(index)
                }
            }
            Item {
                width: 1
                height: ctl.bottomSpacerHeight
            }
        }
    }

    // The animated scroll, ease-in-out, on the frame clock.
    FrameTween {
        id: scroll
        property real from: 0
        property real to: 0
        frameClock: root.clocks.frameClock
        onProgressChanged: flick.contentY = from + (to - from) * progress
    }

    Rectangle {
        anchors { left: parent.left; right: parent.right; top: parent.top }
        height: root.isCompact ? 40 : 64
        gradient: Gradient {
            GradientStop { position: 0; color: Qt.alpha(root.fadeInk, 0.7) }
            GradientStop { position: 1; color: Qt.alpha(root.fadeInk, 0) }
        }
    }
    Rectangle {
        anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
        height: root.isCompact ? 50 : 80
        gradient: Gradient {
            GradientStop { position: 0; color: Qt.alpha(root.fadeInk, 0) }
            GradientStop { position: 1; color: Qt.alpha(root.fadeInk, 0.85) }
        }
    }

    BackToCurrentButton {
        buttonObjectName: "lyricsView.backToCurrent"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: root.isCompact ? 60 : 88
        shown: !ctl.isTracking
        reduceMotion: root.reduceMotion
        onClicked: ctl.returnToCurrent()
    }
}
