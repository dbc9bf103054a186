import QtQuick
import Cantorella.Design

// A faint wash of the background's hue behind the Now tab: `washColor` (the driver's: the mesh
// palette's colour at the echo's time, saturation 0.7, brightness 0.5) at 12 % opacity. Takes no
// input.
Rectangle {
    id: echo

    property color washColor: "black"

    color: washColor
    opacity: 0.12
    enabled: false
    Accessible.ignored: true
}
