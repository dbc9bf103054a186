import QtQuick
import Cantorella.Design

// A faint wash of the background's hue behind the Now tab: `washColor` (the driver's: the mesh
// palette's colour at the echo's time, saturation 0.7, brightness 0.5) at 12 % opacity. Given
// the opaque colour it lies on (`backdrop`), it draws that blend itself as one opaque fill: the
// renderer then neither blends it nor draws what it covers (on a software renderer each
// blended fill of the tab costs every frame). Takes no input.
Rectangle {
    id: echo

    property color washColor: "black"
    property color backdrop: "transparent"
    // Not named on…: a property whose name reads as a signal handler keeps its first value.
    readonly property bool opaqueBackdrop: backdrop.a >= 1

    color: opaqueBackdrop ? Qt.tint(backdrop, Qt.alpha(washColor, 0.12)) : washColor
    opacity: opaqueBackdrop ? 1 : 0.12
    enabled: false
    Accessible.ignored: true
}
