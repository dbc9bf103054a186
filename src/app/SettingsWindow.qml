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
        if (visible)
            view.active = true
        for (let i = 0; !visible && i < 8 && activeFocusItem && activeFocusItem !== contentItem; ++i)
            activeFocusItem.focus = false
    }

    function present() {
        view.active = true
        show()
        raise()
        requestActivate()
    }

    Shortcut {
        sequences: [StandardKey.Cancel, "Ctrl+W"]
        onActivated: settings.close()
    }

    // Built when the window is first opened, not with the application: most runs never open it,
    // and its controls' creation would delay the main window's first frame. Kept once built.
    Loader {
        id: view
        anchors.fill: parent
        active: false
        sourceComponent: SettingsView {
            objectName: "settingsView"
            auth: settings.auth
            onSigningOut: byKeyboard => settings.signingOut(byKeyboard)
        }
    }
}
