import QtQuick
import QtQuick.Controls
import Cantorella.Design

// The detected language of the lyrics as a small capsule. `language` undefined or null hides
// it (taking no space); "" shows an empty capsule. Green only for exactly "en".
Item {
    id: root

    property var language
    readonly property bool present: language !== undefined && language !== null
    readonly property string code: present ? String(language) : ""

    visible: present
    implicitWidth: label.implicitWidth + 12
    implicitHeight: label.implicitHeight + 4

    Accessible.role: Accessible.StaticText
    Accessible.name: "语言:" + code
    Accessible.description: help.text

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: Badges.languageFillColor(root.code)
        border.width: 0.5
        border.color: Qt.rgba(1, 1, 1, 0.3)
    }

    Text {
        id: label
        anchors.centerIn: parent
        text: root.code
        textFormat: Text.PlainText
        color: Theme.textPrimary
        font: Theme.caption2Mono
    }

    HoverHandler { id: hover }
    ToolTip {
        id: help
        visible: hover.hovered
        text: "检测到的歌词语言:" + root.code
    }
}
