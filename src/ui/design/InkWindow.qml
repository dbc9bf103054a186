import QtQuick
import QtQuick.Controls
import Cantorella.Design

// A top-level window of the application: the background ink, and the dark scheme for the
// Controls drawn on it (tool tips, scroll bars, text fields). Its focus keeper moves the keyboard
// focus on to a neighbour in the same pane when the focused control goes away.
ApplicationWindow {
    id: inkWindow
    color: Theme.backgroundInk
    palette.window: Theme.backgroundInk
    palette.windowText: Theme.textPrimary
    palette.base: Theme.backgroundInk
    palette.text: Theme.textPrimary
    palette.toolTipBase: Theme.backgroundInk
    palette.toolTipText: Theme.textPrimary
    palette.mid: Qt.alpha("white", 0.3)
    palette.dark: Qt.alpha("white", 0.5)

    FocusKeeper {
        window: inkWindow
    }
}
