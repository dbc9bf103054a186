import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Library

// Favourites the whole song of `songKey`. Without a key it is not drawn; while no stored song has
// the key it is disabled.
AbstractButton {
    id: root

    property string songKey
    required property CardStore cardStore
    property bool reduceMotion: SystemMotion.reduceMotion

    readonly property color tint: ctl.isFavorite ? Theme.neonPink : Qt.alpha("white", 0.55)

    visible: ctl.hasKey
    enabled: ctl.hasRecord
    implicitWidth: contentItem.implicitWidth
    implicitHeight: contentItem.implicitHeight
    Accessible.name: ctl.accessibleName
    ToolTip.visible: hovered
    ToolTip.text: ctl.helpText
    ToolTip.delay: 500

    SongFavoriteController {
        id: ctl
        cardStore: root.cardStore
        songKey: root.songKey
    }

    property color shownTint: tint
    Behavior on shownTint {
        enabled: !root.reduceMotion
        ColorAnimation { duration: 200; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
    }

    contentItem: RowLayout {
        spacing: 4
        ToggleIcon {
            objectName: "songFavorite.icon"
            on: ctl.isFavorite
            nameOn: "heart.fill"
            nameOff: "heart"
            colorOn: Theme.neonPink
            colorOff: Qt.alpha("white", 0.55)
            size: 11
            reduceMotion: root.reduceMotion
        }
        Text {
            text: "收藏歌曲"
            textFormat: Text.PlainText
            font: Theme.smallLabel
            color: root.shownTint
        }
    }

    onClicked: ctl.toggle()

    FocusRing { inset: -4; radius: 6 }
}
