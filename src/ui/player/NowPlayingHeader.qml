import QtQuick
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects as Effects
import Cantorella.Design
import Cantorella.Player

// The panel's header: the breathing art tile beside the "NOW PLAYING" chip with the account
// icon (regular width only), the title and the artist line.
RowLayout {
    id: root

    required property CompactLyricsPanelController controller
    property Component accountIcon: null
    readonly property bool compact: controller.isCompact
    readonly property real tileSide: compact ? 36 : 44

    spacing: compact ? 8 : 12

    Item {
        id: tile
        Layout.alignment: Qt.AlignTop
        Layout.preferredWidth: root.tileSide
        Layout.preferredHeight: root.tileSide
        scale: root.controller.breathScale
        Accessible.ignored: true

        Effects.RectangularGlow {
            anchors.fill: parent
            // In quarter points: the glow's item is 4 × glowRadius wider than the tile, so it
            // resizes in whole pixels. Each resize of the glow costs the window a second frame
            // right after the one that shows it; steps of a quarter point cannot be seen.
            glowRadius: Math.round(root.controller.breathShadowRadius * 2) / 4
            spread: 0.1
            cornerRadius: mask.radius + glowRadius
            color: Qt.alpha(Theme.neonViolet, 0.4)
        }
        Rectangle {
            id: mask
            anchors.fill: parent
            radius: root.compact ? 8 : 10
            visible: false
        }
        Effects.ConicalGradient {
            anchors.fill: parent
            source: mask
            angle: 300
            gradient: Gradient {
                GradientStop { position: 0; color: Theme.neonCyan }
                GradientStop { position: 0.33; color: Theme.neonViolet }
                GradientStop { position: 0.66; color: Theme.neonPink }
                GradientStop { position: 1; color: Theme.neonCyan }
            }
        }
        Effects.RadialGradient {
            anchors.fill: parent
            source: mask
            horizontalOffset: -0.2 * width
            verticalOffset: -0.2 * height
            horizontalRadius: 60
            verticalRadius: 60
            gradient: Gradient {
                GradientStop { position: 0; color: Qt.rgba(1, 1, 1, 0.5) }
                GradientStop { position: 0.5; color: Qt.rgba(1, 1, 1, 0) }
            }
        }
    }

    ColumnLayout {
        Layout.fillWidth: true
        Layout.alignment: Qt.AlignTop
        spacing: 4

        RowLayout {
            visible: !root.compact
            Layout.fillWidth: true
            spacing: 4
            // The dot (with its cyan glow) before the white label, on the cyan chip.
            CTChip {
                objectName: "compactPanel.nowPlayingChip"
                tone: CT.NeonCyan
                Item {
                    objectName: "compactPanel.nowPlayingDot"
                    Accessible.ignored: true
                    implicitWidth: 5
                    implicitHeight: 5
                    Effects.RectangularGlow {
                        anchors.fill: parent
                        glowRadius: 3
                        spread: 0.2
                        cornerRadius: 2.5 + glowRadius
                        color: Theme.neonCyan
                    }
                    Rectangle {
                        anchors.fill: parent
                        radius: 2.5
                        color: Theme.neonCyan
                    }
                }
                Text {
                    objectName: "compactPanel.nowPlayingLabel"
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                    text: "NOW PLAYING"
                    font: Theme.smallLabel
                    color: "white"
                }
            }
            Item { Layout.fillWidth: true; Layout.minimumWidth: 8 }
            Loader {
                objectName: "compactPanel.accountIcon"
                active: root.accountIcon !== null
                sourceComponent: root.accountIcon
            }
        }
        Text {
            objectName: "compactPanel.title"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Layout.fillWidth: true
            text: root.controller.title
            textFormat: Text.PlainText
            font.pixelSize: root.compact ? 14 : 17
            font.weight: Font.Bold
            color: Theme.textPrimary
            wrapMode: Text.Wrap
            maximumLineCount: 2
            elide: Text.ElideRight
        }
        Text {
            objectName: "compactPanel.artist"
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            visible: text !== ""
            Layout.fillWidth: true
            text: root.controller.artistLine
            textFormat: Text.PlainText
            font.pixelSize: root.compact ? 10 : 11
            color: Theme.textSecondary
            elide: Text.ElideRight
        }
    }
}
