import QtQuick
import Cantorella.Design

// The keyboard focus indicator every focusable control draws: a white ring between two hairlines
// of the background ink. Whatever lies around it (the dark inks, a bright gradient fill, a tinted
// glass card), one of the two tones stands at least 3:1 against it. It follows the control's
// outline (`radius`), inside its bounds by default (controls and lists clip) or around it with a
// negative `inset`. A button, tab or slider shows it for focus the keyboard gave (Tab, Shift+Tab,
// a shortcut, focus handed back by a closing popup), never after a click; a text field shows it
// whenever it takes the typing, a click included (where the caret is matters to the keyboard
// user too). It appears and goes at once, so Reduce Motion has nothing to reduce. While shown it
// scrolls its control into the nearest scrolling view. It also makes the keys press what it
// rings: Return and Enter press a control with a `clicked` signal (Controls take Space only), and
// Space presses a plain item that declares one. A control its scrolling view has moved out of
// sight takes no key: Space, Return or Enter bring it back into view (ringed) instead of pressing
// it. (Where the focus goes when its control hides: the window's FocusKeeper.) Inside a card
// greyed as a whole (a mastered card), the card offers a `focusRingHost` above its greying: the
// ring draws there, over its control's place, at full contrast.
Item {
    id: ring

    // The control whose focus it shows; the item it surrounds is its parent.
    property Item control: parent
    property real radius: height / 2
    property real inset: 0
    // Controls say how their focus came (`visualFocus`); text inputs and plain items (which a
    // click does not focus) show any focus.
    readonly property bool shown: !!control && control.activeFocus
                                  && (control.visualFocus === undefined || control.visualFocus)

    anchors.fill: parent
    anchors.margins: inset
    visible: shown
    z: 100
    enabled: false
    Accessible.ignored: true

    onShownChanged: {
        place()
        if (shown)
            Qt.callLater(ring.revealControl)
    }

    Component.onCompleted: {
        if (!control)
            return
        adoptHost()
        // Before the control's own handling (a button's Space): a control out of sight is
        // brought into view, not pressed.
        control.Keys.pressed.connect((event) => {
            if (ring.isPressKey(event.key) && ring.bringIntoView())
                event.accepted = true
        })
        if (typeof control.clicked !== "function")
            return
        const press = (event) => {
            event.accepted = true
            if (!ring.bringIntoView())
                control.clicked()
        }
        control.Keys.returnPressed.connect(press)
        control.Keys.enterPressed.connect(press)
        // A button takes Space itself (pressed look, click on release).
        if (control.down === undefined)
            control.Keys.spacePressed.connect(press)
    }

    // Drawn on a host above the control's greying: placed over the control each time it shows.
    property Item host: null
    function adoptHost() {
        for (let p = control ? control.parent : null; p; p = p.parent) {
            if (p.focusRingHost !== undefined && p.focusRingHost) {
                control = control // the binding to the parent ends before the parent changes
                anchors.fill = undefined
                host = p.focusRingHost
                parent = host
                return
            }
        }
    }
    function place() {
        if (!host || !control)
            return
        const r = control.mapToItem(host, inset, inset)
        x = r.x
        y = r.y
        width = control.width - 2 * inset
        height = control.height - 2 * inset
    }

    function isPressKey(key) {
        return key === Qt.Key_Space || key === Qt.Key_Return || key === Qt.Key_Enter
    }

    // The closest Flickable above the control, or null.
    function scroller() {
        for (let p = control ? control.parent : null; p; p = p.parent) {
            if (p.contentItem !== undefined && p.contentY !== undefined && p.contentHeight !== undefined
                    && p.flickableDirection !== undefined)
                return p
        }
        return null
    }

    // The content offset that shows the control whole in its scroller, by the least scroll (the
    // offset it has when it shows already).
    function offsetShowing(p) {
        const top = control.mapToItem(p.contentItem, 0, 0).y
        const bottom = top + control.height
        const margin = 12
        let y = p.contentY
        if (top - margin < y)
            y = top - margin
        else if (bottom + margin > y + p.height)
            y = bottom + margin - p.height
        const maxY = Math.max(0, p.contentHeight - p.height + p.originY)
        return Math.max(p.originY, Math.min(maxY, y))
    }

    // Brings the control inside the viewport of the closest Flickable above it, by the least
    // scroll; a control already inside stays where it is.
    function revealControl() {
        if (!shown || !control)
            return
        const p = scroller()
        if (p)
            p.contentY = offsetShowing(p)
    }

    // A key for a control out of sight: the control comes into view with its ring, and the key
    // does nothing else. Answers whether it had to.
    function bringIntoView() {
        const p = scroller()
        if (!p || !control.activeFocus)
            return false
        const top = control.mapToItem(p.contentItem, 0, 0).y
        if (top >= p.contentY && top + control.height <= p.contentY + p.height)
            return false
        // The keyboard is in use now: the ring shows.
        if (control.focusReason !== undefined)
            control.focusReason = Qt.TabFocusReason
        p.contentY = offsetShowing(p)
        return true
    }

    Rectangle {
        anchors.fill: parent
        radius: ring.radius
        color: "transparent"
        border.width: 1
        border.color: Theme.backgroundInk
    }
    Rectangle {
        anchors.fill: parent
        anchors.margins: 1
        radius: Math.max(0, ring.radius - 1)
        color: "transparent"
        border.width: 2
        border.color: "white"
    }
    Rectangle {
        anchors.fill: parent
        anchors.margins: 3
        radius: Math.max(0, ring.radius - 3)
        color: "transparent"
        border.width: 1
        border.color: Theme.backgroundInk
    }
}
