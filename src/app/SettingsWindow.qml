import QtQuick
import QtQuick.Controls
import Cantorella.Account
import Cantorella.Design

// The settings window: hidden until Ctrl+, opens it; opening it again raises it. Escape and
// Ctrl+W close it.
ApplicationWindow {
    id: settings
    objectName: "settingsWindow"

    required property QtObject auth

    width: Math.max(480, view.implicitWidth)
    height: Math.max(360, view.implicitHeight)
    minimumWidth: 420
    minimumHeight: 300
    visible: false
    title: "设置"
    color: Theme.backgroundInk
    // The dark scheme for the Controls drawn on it (tool tips, scroll bars, text fields).
    palette.window: Theme.backgroundInk
    palette.windowText: Theme.textPrimary
    palette.base: Theme.backgroundInk
    palette.text: Theme.textPrimary
    palette.toolTipBase: Theme.backgroundInk
    palette.toolTipText: Theme.textPrimary
    palette.mid: Qt.alpha("white", 0.3)
    palette.dark: Qt.alpha("white", 0.5)

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
    }
}
