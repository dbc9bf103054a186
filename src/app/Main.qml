import QtQuick
import QtQuick.Controls
import Cantorella.Account
import Cantorella.App
import Cantorella.Design
import Cantorella.Library
import Cantorella.Player

// The main window. Its content is the root view AppState decides: the loading screen, the
// sign-in view or the player. Ctrl+, opens (or raises) the settings window in every state;
// Ctrl+W closes the window as its title bar's button does; Ctrl+Q quits.
InkWindow {
    id: window
    objectName: "mainWindow"

    width: 800
    height: 950
    minimumWidth: 680
    minimumHeight: 800
    visible: true
    title: "Cantorella"

    // Closing the main window ends the application, also while the settings window is open.
    onClosing: Qt.quit()

    Shortcut {
        sequence: "Ctrl+,"
        context: Qt.ApplicationShortcut
        onActivated: settingsWindow.present()
    }
    // This window only: in the settings window the same keys close that one.
    Shortcut {
        sequence: "Ctrl+W"
        onActivated: window.close()
    }
    // Quits from either window.
    Shortcut {
        sequence: "Ctrl+Q"
        context: Qt.ApplicationShortcut
        onActivated: Qt.quit()
    }

    Loader {
        id: rootView
        objectName: "rootView"
        anchors.fill: parent
        sourceComponent: {
            switch (AppState.rootView) {
            case AppState.Player: return playerComponent
            case AppState.SignIn: return signInComponent
            default: return loadingComponent
            }
        }
        // A view that comes takes the focus on its first control; ringed when the focus last
        // came from the keyboard.
        onLoaded: {
            AppState.rootViewShown(AppState.rootView)
            rootFocus.reason = window.keyboardFocus ? Qt.TabFocusReason : Qt.OtherFocusReason
            rootFocus.enterFirst(item)
        }
    }
    FocusReturn { id: rootFocus }

    // Whether the control focused last took the focus from the keyboard (its ring shows); a
    // plain item or a text field takes none from a click.
    property bool keyboardFocus: false
    onActiveFocusItemChanged: {
        const item = activeFocusItem
        if (item && item !== contentItem)
            keyboardFocus = item.visualFocus === undefined || item.visualFocus
    }

    Component {
        id: loadingComponent
        // A plain colour filling the window while the session or its graph is not ready.
        Rectangle {
            objectName: "loadingView"
            color: Qt.rgba(0.024, 0.012, 0.059, 1.0)
        }
    }

    Component {
        id: signInComponent
        SignInView {
            objectName: "signInView"
            auth: AppState.auth
            notice: AppState.signInNotice
        }
    }

    Component {
        id: playerComponent
        MainView {
            id: player
            objectName: "playerView"
            vm: AppState.viewModel
            cardStore: AppState.cardStore
            cardLighting: AppState.cardLighting
            toastCenter: AppState.toastCenter
            clocks: AppState.clocks
            accountIcon: Component { UserInfoIcon { auth: AppState.auth; backupCoordinator: AppState.backupCoordinator } }
            onRetryLyricsRequested: AppState.retryLyrics()
            onRetryCardsRequested: AppState.retryCards()
            // A card shared from the player must not outlive the signed-in graph on screen.
            Component.onDestruction: shareSheetController.dismiss()

            studyPanel: Component {
                StudyPanel {
                    objectName: "studyPanel"
                    vm: player.vm
                    cardStore: player.cardStore
                    cardLighting: player.cardLighting
                    toastCenter: player.toastCenter
                    clocks: player.clocks
                    onRetryCardsRequested: player.retryCardsRequested()
                    onShareRequested: (card, slotLineTimestamp) => shareSheetController.present(card, slotLineTimestamp)
                }
            }
            storyOverlay: Component {
                SongStoryOverlay {
                    vm: player.vm
                }
            }
            storyButton: Component {
                StoryButton {
                    vm: player.vm
                    frameClock: player.clocks.frameClock
                }
            }
        }
    }

    // The window's one share sheet, for a card of any tab; its toasts go through the
    // application's toast centre, which draws above it.
    ShareSheetController {
        id: shareSheetController
        vm: AppState.viewModel
        toastCenter: AppState.toastCenter
    }
    ShareSheet {
        controller: shareSheetController
    }

    // Signed out there, the settings window has nothing left to focus: the sign-in view here
    // takes the focus.
    // A dialog of this window: a window manager places it over this one and keeps it above.
    SettingsWindow {
        id: settingsWindow
        transientParent: window
        flags: Qt.Dialog
        auth: AppState.auth
        onSigningOut: byKeyboard => {
            window.keyboardFocus = byKeyboard
            window.requestActivate()
        }
    }
}
