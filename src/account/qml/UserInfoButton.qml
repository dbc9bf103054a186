import QtQuick
import Cantorella.Design

// A command of the account popover and the settings view: the secondary capsule in the surface
// tone, dimmed while disabled.
CTButton {
    id: control
    tone: CT.Surface
    font.pixelSize: 12
    opacity: enabled ? CT.opacityFor(look, down) : 0.4
}
