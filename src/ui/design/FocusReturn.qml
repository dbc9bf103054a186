import QtQuick

// Hands the keyboard focus back to the control that opened a popup, sheet or overlay once it
// closes, for the same reason it had (after a keyboard open the focus ring shows on it again,
// after a click it does not). A popup calls `capture(window)` as it is about to show and
// `restore()` when it has closed; a control that left the screen meanwhile is skipped.
QtObject {
    property Item opener: null
    property int reason: Qt.OtherFocusReason

    function capture(window) {
        const item = window ? window.activeFocusItem : null
        // The window's own content (nothing focused by the user) is no opener.
        opener = item && window.contentItem !== item ? item : null
        reason = opener && opener.focusReason !== undefined ? opener.focusReason : Qt.OtherFocusReason
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
