import QtQuick
import QtQuick.Controls
import Cantorella.Account
import Cantorella.Design

// The settings window: hidden until Ctrl+, opens it; opening it again raises it. Escape and
// Ctrl+W close it.
InkWindow {
    id: settings
    objectName: "settingsWindow"

    required property QtObject auth

    // Its sign-out button was pressed (from the keyboard or not).
    signal signingOut(bool byKeyboard)

    width: Math.max(480, view.implicitWidth)
    height: Math.max(360, view.implicitHeight)
    minimumWidth: 420
    minimumHeight: 300
    visible: false
    title: "设置"

    // Closed, it keeps no control focused: a screen reader reads the focus of every window of
    // the application, and would still find it on a control of this one, which nobody sees.
    onVisibleChanged: {
        for (let i = 0; !visible && i < 8 && activeFocusItem && activeFocusItem !== contentItem; ++i)
            activeFocusItem.focus = false
    }

    function present() {
        show()
        raise()
        requestActivate()
    }

    Shortcut {
        sequences: [StandardKey.Cancel, "Ctrl+W"]
        onActivated: settings.close()
    }

    SettingsView {
        id: view
        objectName: "settingsView"
        anchors.fill: parent
        auth: settings.auth
        onSigningOut: byKeyboard => settings.signingOut(byKeyboard)
    }
}
