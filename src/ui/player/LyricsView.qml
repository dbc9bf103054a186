import QtQuick
import Qt5Compat.GraphicalEffects as Effects
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
        const rowY = row.mapToItem(flick.contentItem, 0, 0).y
        const target = ctl.scrollTarget(rowY, row.height, flick.height, flick.contentHeight)
        scrollAnimation.stop()
        if (animated) {
            scrollAnimation.to = target
            scrollAnimation.start()
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
        onMovementStarted: scrollAnimation.stop()

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
                    onLineClicked: (index) => ctl.copyLine(index)
                }
            }
            Item {
                width: 1
                height: ctl.bottomSpacerHeight
            }
        }
    }

    NumberAnimation {
        id: scrollAnimation
        target: flick
        property: "contentY"
        duration: 400
        easing.type: Easing.BezierSpline
        easing.bezierCurve: Motion.easeInOut
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

    // "回到当前": comes and goes with a fade and a scale from 0.92, over a soft black shadow.
    Item {
        id: backToCurrentSlot
        readonly property bool shown: !ctl.isTracking
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: root.isCompact ? 60 : 88
        width: backToCurrent.implicitWidth
        height: backToCurrent.implicitHeight
        visible: opacity > 0
        opacity: shown ? 1 : 0
        scale: shown ? 1 : 0.92
        Behavior on opacity {
            NumberAnimation { duration: 200; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
        }
        Behavior on scale {
            NumberAnimation { duration: 200; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
        }

        Effects.RectangularGlow {
            anchors.fill: parent
            anchors.topMargin: 4
            anchors.bottomMargin: -4
            glowRadius: 8
            cornerRadius: height / 2 + glowRadius
            color: Qt.rgba(0, 0, 0, 0.4)
        }
        CTButton {
            id: backToCurrent
            objectName: "lyricsView.backToCurrent"
            backing: Theme.backgroundInk
            anchors.fill: parent
            tone: CT.NeonCyan
            reduceMotion: root.reduceMotion
            text: "回到当前"
            iconName: "arrow.down.to.line"
            iconSize: 11
            font.pixelSize: 12
            font.weight: Font.Medium
            enabled: backToCurrentSlot.shown
            onClicked: ctl.returnToCurrent()
        }
    }
}
