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
        reason = opener && opener.focusReason !== undefined ? opener.focusReason : Qt.OtherFocusReason
    }

    function enter(item) {
        if (item && item.visible && item.enabled)
            item.forceActiveFocus(reason)
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
