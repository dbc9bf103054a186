import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// A segmented control: one segment per title in a capsule track, the selected one filled.
// `activated` reports the user's choice only; the owner sets `currentIndex`.
Rectangle {
    id: root

    property var titles: []
    property int currentIndex: 0
    signal activated(int index)

    implicitHeight: 28
    radius: 7
    color: Qt.alpha("white", 0.08)
    Accessible.role: Accessible.PageTabList

    RowLayout {
        anchors.fill: parent
        anchors.margins: 2
        spacing: 2

        Repeater {
            model: root.titles
            // A page tab, not a Control: a checkable Control reports itself as a check box to
            // screen readers whatever role it is given.
            delegate: Rectangle {
                id: segment
                required property string modelData
                required property int index
                readonly property bool checked: index === root.currentIndex
                readonly property string text: modelData
                function choose() { root.activated(index) }
                objectName: "segment." + modelData
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.preferredWidth: 1
                radius: 5
                color: segment.checked ? Qt.alpha("white", 0.2) : (tap.pressed ? Qt.alpha("white", 0.06) : "transparent")
                activeFocusOnTab: true
                Keys.onSpacePressed: choose()
                Keys.onReturnPressed: choose()
                Accessible.role: Accessible.PageTab
                Accessible.name: modelData
                Accessible.selectable: true
                Accessible.selected: checked
                Accessible.focusable: true
                Accessible.onPressAction: choose()
                FocusRing { radius: 5 }
                TapHandler {
                    id: tap
                    onTapped: segment.choose()
                }
                Text {
                    anchors.fill: parent
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
