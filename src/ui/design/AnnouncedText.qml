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
    // Where the ring draws around the text (negative: outside it) and its corners.
    property real ringInset: -3
    property real ringRadius: 4

    Accessible.role: Accessible.AlertMessage
    Accessible.name: text
    textFormat: Text.PlainText

    FocusRing { radius: root.ringRadius; inset: root.ringInset }

    onAnnouncingChanged: if (announcing) Qt.callLater(root.announce)
    onTextChanged: if (announcing) Qt.callLater(root.announce)
    onActiveFocusChanged: if (!activeFocus) visualFocus = false
    // Not a Tab stop itself, so Qt would start the next Tab at the window's first control: Tab
    // and Shift+Tab go on from here, to its neighbours in reading order.
    Keys.onTabPressed: (event) => root.focusNeighbour(event, true)
    Keys.onBacktabPressed: (event) => root.focusNeighbour(event, false)

    function focusNeighbour(event, forward) {
        const next = root.nextItemInFocusChain(forward)
        if (!next || next === root)
            return
        event.accepted = true
        next.forceActiveFocus(forward ? Qt.TabFocusReason : Qt.BacktabFocusReason)
    }

    function announce() {
        if (!announcing || !FocusKeeper.focusNearby())
            return
        visualFocus = FocusKeeper.keyboardInUse()
        forceActiveFocus(visualFocus ? Qt.TabFocusReason : Qt.OtherFocusReason)
    }
}
