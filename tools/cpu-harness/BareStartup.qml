import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects

// The comparator for the start-up figure: plain Qt Quick, 800 × 950, the modules the player's
// screens import, the application's font (the harness sets it) in its Chinese and Latin faces,
// a glow and a gradient (their shaders) and a few controls; nothing of the program's own.
ApplicationWindow {
    width: 800
    height: 950
    visible: true
    color: "#06030f"

    RowLayout {
        anchors.fill: parent
        spacing: 0
        ColumnLayout {
            Layout.preferredWidth: 360
            Layout.fillHeight: true
            spacing: 12
            Repeater {
                model: 12
                Text {
                    required property int index
                    Layout.fillWidth: true
                    Layout.leftMargin: 20
                    wrapMode: Text.Wrap
                    font.pixelSize: index === 3 ? 22 : 18
                    font.weight: index === 3 ? Font.DemiBold : Font.Normal
                    color: index === 3 ? "white" : Qt.rgba(1, 1, 1, 0.5)
                    text: "Line " + (index + 1) + ": through many dangers 经历许多危险"
                }
            }
            Item { Layout.fillHeight: true }
        }
        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
            RectangularGlow {
                anchors.fill: card
                glowRadius: 18
                cornerRadius: 34
                color: Qt.rgba(0, 0.9, 1, 0.4)
            }
            Rectangle {
                id: card
                x: 16; y: 40; width: parent.width - 32; height: 360; radius: 16
                gradient: Gradient {
                    GradientStop { position: 0; color: Qt.rgba(1, 1, 1, 0.08) }
                    GradientStop { position: 1; color: Qt.rgba(1, 1, 1, 0.02) }
                }
                ColumnLayout {
                    anchors.fill: parent
                    anchors.margins: 16
                    Label { text: "\"amazing grace\""; font.pixelSize: 22; color: "white" }
                    Label { text: "释义：奇异恩典"; font.pixelSize: 14; color: "white" }
                    Button { text: "标记掌握" }
                    Item { Layout.fillHeight: true }
                }
            }
        }
    }
}
