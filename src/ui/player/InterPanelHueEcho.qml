import QtQuick
import Cantorella.Design

// A faint wash of the background's hue behind the Now tab: the mesh palette's colour at the
// given time, saturation 0.7, brightness 0.5, at 12 % opacity. Takes no input.
Rectangle {
    id: echo

    property real elapsed: 0

    color: Qt.hsva(MeshGradientPalette.hue(elapsed) / 360, 0.7, 0.5, 1)
    opacity: 0.12
    enabled: false
    Accessible.ignored: true
}
