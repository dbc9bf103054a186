import QtQuick
import QtQuick.Controls
import Cantorella.Account
import Cantorella.Design

// The settings window: hidden until Ctrl+, opens it; opening it again raises it.
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

    function present() {
        show()
        raise()
        requestActivate()
    }

    SettingsView {
        id: view
        objectName: "settingsView"
        anchors.fill: parent
        auth: settings.auth
    }
}
