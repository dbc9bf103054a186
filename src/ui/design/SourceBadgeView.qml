import QtQuick
import QtQuick.Controls
import Cantorella.Design

// Where the lyrics came from, as a small capsule. `source` is the raw value ("lrclib",
// "netease", "cache", "manualImport"); undefined or null hides it, taking no space.
Item {
    id: root

    property var source
    readonly property bool present: source !== undefined && source !== null
    readonly property string name: present ? Badges.sourceDisplayName(String(source)) : ""
    readonly property string helpText: present ? Badges.sourceHelpText(String(source)) : ""

    visible: present
    implicitWidth: label.implicitWidth + 16
    implicitHeight: label.implicitHeight + 6

    Accessible.role: Accessible.StaticText
    Accessible.name: "歌词来源：" + name
    Accessible.description: helpText

    Rectangle {
        anchors.fill: parent
        radius: height / 2
        color: Qt.rgba(1, 1, 1, 0.12)
        border.width: 0.5
        border.color: Qt.rgba(1, 1, 1, 0.2)
    }

    Text {
        id: label
        anchors.centerIn: parent
        text: root.name
        textFormat: Text.PlainText
        color: Theme.textPrimary
        font: Theme.caption2
    }

    HoverHandler { id: hover }
    ToolTip {
        visible: hover.hovered && root.helpText !== ""
        text: root.helpText
    }
}
