import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Library

// The song story over the whole window: a dimmed backdrop and, centred on it, a card with the
// story's sections. Shows only while there is a track, the open flag and a story. The backdrop,
// the "知道了" button and Escape close it; a click inside the card does not.
Popup {
    id: overlay

    required property PlayerViewModel vm
    property bool reduceMotion: SystemMotion.reduceMotion

    // Escape closes at once; the backdrop and the button close with a short ease-in.
    property bool _animateExit: false

    objectName: "storyOverlay"
    parent: Overlay.overlay
    x: 0
    y: 0
    width: parent ? parent.width : 0
    height: parent ? parent.height : 0
    modal: true
    dim: false
    focus: true
    z: Theme.zOverlay
    padding: 0
    closePolicy: Popup.CloseOnEscape
    visible: model.shown
    // The flag clears as the close begins (Escape reports itself handled at once).
    onAboutToHide: model.dismiss()
    // The popup's own item is the dialog a screen reader enters (a Popup's Accessible does not
    // reach it): named by the title the dialog shows.
    onAboutToShow: {
        contentItem.parent.Accessible.name = model.titleEN
        focusReturn.capture(parent ? parent.Window.window : null)
    }
    onOpened: focusReturn.enter(card)
    onClosed: {
        _animateExit = false
        focusReturn.restore()
    }

    FocusReturn { id: focusReturn }

    function dismissAnimated() {
        _animateExit = true
        model.dismiss()
    }

    StoryOverlayModel {
        id: model
        vm: overlay.vm
    }

    enter: Transition {
        NumberAnimation {
            property: "opacity"; from: 0; to: 1
            duration: overlay.reduceMotion ? 200 : 350
            easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeOut
        }
        NumberAnimation {
            target: card; property: "scale"; from: overlay.reduceMotion ? 1 : 0.95; to: 1
            duration: overlay.reduceMotion ? 200 : 350
            easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeOut
        }
    }
    exit: Transition {
        NumberAnimation {
            property: "opacity"; from: 1; to: 0; duration: overlay._animateExit ? 200 : 0
            easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeIn
        }
        NumberAnimation {
            target: card; property: "scale"; to: overlay.reduceMotion ? 1 : 0.95
            duration: overlay._animateExit ? 200 : 0
            easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeIn
        }
    }

    background: Item {}

    contentItem: Item {
        Accessible.role: Accessible.Grouping
        Accessible.name: model.titleEN

        // Backdrop: black 0.4 under the frosted fill at 0.6; a tap closes.
        Item {
            objectName: "storyOverlay.backdrop"
            anchors.fill: parent
            Rectangle { anchors.fill: parent; color: Qt.alpha("black", 0.4) }
            FrostedFill { anchors.fill: parent; opacity: 0.6 }
            TapHandler { onTapped: overlay.dismissAnimated() }
            WheelHandler { onWheel: (event) => event.accepted = true }
        }

        Item {
            id: card
            objectName: "storyOverlay.card"
            readonly property size modalSize: ModalSizing.sizeIn(overlay.width, overlay.height)
            width: modalSize.width
            height: modalSize.height
            anchors.centerIn: parent
            Accessible.role: Accessible.Grouping
            Accessible.name: model.titleEN
            // Takes the focus as the story opens (a screen reader reads its title); the arrow and
            // page keys scroll the story.
            Keys.onUpPressed: flick.scrollBy(-40)
            Keys.onDownPressed: flick.scrollBy(40)
            Keys.onPressed: (event) => {
                if (event.key === Qt.Key_PageUp || event.key === Qt.Key_PageDown) {
                    flick.scrollBy((event.key === Qt.Key_PageUp ? -1 : 1) * (flick.height - 40))
                    event.accepted = true
                }
            }

            // Presses inside the card stay in the card.
            MouseArea { anchors.fill: parent; onWheel: (wheel) => wheel.accepted = false }

            FrostedFill {
                anchors.fill: parent
                radius: 16
                opacity: 0.95
            }
            Rectangle {
                anchors.fill: parent
                radius: 16
                color: "transparent"
                border.width: 1
                border.color: Qt.alpha("white", 0.15)
            }

            Flickable {
                id: flick
                objectName: "storyOverlay.scroll"
                anchors.fill: parent
                anchors.margins: 1
                clip: true
                boundsBehavior: Flickable.StopAtBounds
                contentWidth: width
                contentHeight: content.implicitHeight + 40

                function scrollBy(dy) {
                    contentY = Math.max(0, Math.min(contentHeight - height, contentY + dy))
                }

                StoryContent {
                    id: content
                    model: model
                    x: 20 + Math.max(0, (flick.width - 40 - width) / 2)
                    y: 20
                    width: Math.min(560, flick.width - 40)
                    onDismissRequested: overlay.dismissAnimated()
                }
            }
        }
    }
}
