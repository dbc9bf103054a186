import QtQuick
import QtQuick.Controls
import Cantorella.App

// The settings window: hidden until Ctrl+, opens it; opening it again raises it.
ApplicationWindow {
    id: settings
    objectName: "settingsWindow"

    width: 480
    height: 360
    minimumWidth: 420
    minimumHeight: 300
    visible: false
    title: "设置"
    color: "#06030f"

    function present() {
        show()
        raise()
        requestActivate()
    }

    SettingsStandIn {
        objectName: "settingsView"
        anchors.fill: parent
    }
}
