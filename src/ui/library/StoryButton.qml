import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects
import Cantorella.Design
import Cantorella.Session
import Cantorella.Library

// The "SONG STORY" capsule: cyan and breathing while a story is ready, muted white otherwise. A
// press opens the story overlay when there is a story.
AbstractButton {
    id: button

    required property PlayerViewModel vm
    property QtObject frameClock: null
    property bool reduceMotion: SystemMotion.reduceMotion

    readonly property color inkColor: model.ready ? Theme.neonCyan : Qt.alpha("white", 0.7)
    readonly property color borderColor: model.ready ? Qt.alpha(Theme.neonCyan, 0.6) : Qt.alpha("white", 0.15)

    objectName: "storyButton"
    leftPadding: 12
    rightPadding: 12
    topPadding: 6
    bottomPadding: 6
    Accessible.name: model.accessibleName
    ToolTip.visible: hovered
    ToolTip.text: model.helpText
    onClicked: model.press()

    // The glow breathes on the frame clock at the ambient pace, also while the window is not in
    // front; a hidden or minimised window draws none of its frames.
    StoryButtonModel {
        id: model
        vm: button.vm
        frameClock: button.frameClock
        reduceMotion: button.reduceMotion
        shown: button.visible
    }

    FocusRing {}

    contentItem: RowLayout {
        spacing: 5
        opacity: model.glowOpacity
        Icon {
            name: "book.closed.fill"
            size: 11
            color: button.inkColor
        }
        Text {
            text: "SONG STORY"
            textFormat: Text.PlainText
            font.family: Theme.smallLabel.family
            font.pixelSize: 11
            font.weight: Font.Medium
            font.letterSpacing: 0.8
            color: button.inkColor
        }
    }

    background: Item {
        implicitHeight: 1
        RectangularGlow {
            anchors.fill: capsule
            anchors.topMargin: 4
            anchors.bottomMargin: -4
            glowRadius: 8
            cornerRadius: capsule.radius + glowRadius
            color: Qt.alpha("black", 0.4)
            spread: 0
        }
        Rectangle {
            id: capsule
            objectName: "storyButton.capsule"
            anchors.fill: parent
            opacity: model.glowOpacity
            radius: height / 2
            color: Qt.alpha(Theme.surfaceFaint, Theme.surfaceFaint.a * 0.85)
            border.width: 1
            border.color: button.borderColor
        }
    }
}
