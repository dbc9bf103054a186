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
