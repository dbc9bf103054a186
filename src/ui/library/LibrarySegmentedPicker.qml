import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design

// A segmented control: one checkable segment per title in a capsule track, the selected one
// filled. `activated` reports the user's choice only; the owner sets `currentIndex`.
Rectangle {
    id: root

    property var titles: []
    property int currentIndex: 0
    signal activated(int index)

    implicitHeight: 28
    radius: 7
    color: Qt.alpha("white", 0.08)
    Accessible.role: Accessible.PageTabList

    ButtonGroup {
        id: group
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: 2
        spacing: 2

        Repeater {
            model: root.titles
            delegate: AbstractButton {
                id: segment
                required property string modelData
                required property int index
                objectName: "segment." + modelData
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.preferredWidth: 1
                checkable: true
                checked: index === root.currentIndex
                ButtonGroup.group: group
                text: modelData
                Accessible.role: Accessible.PageTab
                Accessible.name: modelData
                onClicked: {
                    root.activated(index)
                    checked = Qt.binding(() => index === root.currentIndex)
                }
                background: Rectangle {
                    radius: 5
                    color: segment.checked ? Qt.alpha("white", 0.2) : (segment.down ? Qt.alpha("white", 0.06) : "transparent")
                }
                contentItem: Text {
                    text: segment.text
                    textFormat: Text.PlainText
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                    elide: Text.ElideRight
                    font.pixelSize: 12
                    font.weight: segment.checked ? Font.DemiBold : Font.Normal
                    color: segment.checked ? Theme.textPrimary : Theme.textSecondary
                }
            }
        }
    }
}
