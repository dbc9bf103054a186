import QtQuick
import Cantorella.Design

// The frosted material: one fill, nearly opaque. There is no backdrop blur, so the fill itself
// keeps lyrics and cards behind a panel from showing through its text.
Rectangle {
    color: Theme.frostedFill
}
