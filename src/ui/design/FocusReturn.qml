import QtQuick

// Moves the keyboard focus into a popup, sheet or overlay as it opens and hands it back to the
// control that opened it once it closes, each time for the reason the opener had its focus (after
// a keyboard open the focus ring shows, after a click it does not). A popup calls
// `capture(window)` as it is about to show, `enter(item)` once open (so that a screen reader
// announces that item, not the control left behind) and `restore()` when it has closed; a control
// that left the screen meanwhile is skipped.
QtObject {
    property Item opener: null
    property int reason: Qt.OtherFocusReason

    function capture(window) {
        const item = window ? window.activeFocusItem : null
        // The window's own content (nothing focused by the user) is no opener.
        opener = item && window.contentItem !== item ? item : null
        // A plain item takes the focus from the keyboard only (a click does not focus it).
        reason = !opener ? Qt.OtherFocusReason
                         : opener.focusReason !== undefined ? opener.focusReason : Qt.TabFocusReason
    }

    function enter(item) {
        if (item && item.visible && item.enabled)
            item.forceActiveFocus(reason)
    }

    // A view that has just come: its first control in reading order takes the focus.
    function enterFirst(view) {
        const first = view ? view.nextItemInFocusChain(true) : null
        for (let p = first; p; p = p.parent) {
            if (p === view) {
                enter(first)
                return
            }
        }
    }

    function restore() {
        const item = opener
        opener = null
        if (!item || !item.visible || !item.enabled || !item.Window.window)
            return
        item.forceActiveFocus(reason)
        // The popup may have handed the focus back already, for a reason of its own: a control
        // that has the focus takes no new reason from forceActiveFocus.
        if (item.focusReason !== undefined)
            item.focusReason = reason
    }
}
