import QtQuick
import Cantorella.Design

// A text a screen reader reads out as it appears, and again each time it comes back or changes
// (an error shown anew after a retry): it takes the keyboard's focus when the focus is in its
// pane or on no control, and the focus event announces it as an alert. Tab goes on from it in
// reading order, to the control that acts on it. Where the user works in another pane it takes
// nothing. Its ring shows when the keyboard was in use.
Text {
    id: root

    // Focused while the keyboard was in use: its ring shows (a plain item would show it always).
    property bool visualFocus: false
    readonly property bool announcing: visible && text !== ""

    Accessible.role: Accessible.AlertMessage
    Accessible.name: text
    textFormat: Text.PlainText

    FocusRing { radius: 4; inset: -3 }

    onAnnouncingChanged: if (announcing) Qt.callLater(root.announce)
    onTextChanged: if (announcing) Qt.callLater(root.announce)
    onActiveFocusChanged: if (!activeFocus) visualFocus = false

    function announce() {
        if (!announcing || !FocusKeeper.focusNearby())
            return
        visualFocus = FocusKeeper.keyboardInUse()
        forceActiveFocus(visualFocus ? Qt.TabFocusReason : Qt.OtherFocusReason)
    }
}
