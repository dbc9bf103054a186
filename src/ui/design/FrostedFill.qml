import QtQuick
import Cantorella.Design

// The frosted material: one translucent fill. There is no backdrop blur; the fill is dark and
// opaque enough that text stays readable over the animated backgrounds.
Rectangle {
    color: Theme.frostedFill
}
