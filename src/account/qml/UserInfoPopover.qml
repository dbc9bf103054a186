import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Account
import Cantorella.Design

// The account popover: the signed-in e-mail, backup to and restore from the server with the
// status of the last command, and sign-out. Non-modal; Escape or a press outside closes it. It
// opens above its parent (the account icon) when the window has room there, else below it, and
// stays inside the window's width.
Popup {
    id: popup

    property QtObject auth: null
    property BackupCoordinator backupCoordinator: null

    readonly property bool signedIn: auth !== null && auth.isSignedIn
    readonly property string email: signedIn ? auth.currentEmail : ""
    readonly property bool busy: backupCoordinator !== null
                                 && backupCoordinator.status === BackupCoordinator.InProgress
    readonly property bool opensAbove: placement.above

    readonly property real gap: 10
    readonly property real windowMargin: 8
    readonly property real windowWidth: Overlay.overlay ? Overlay.overlay.width : 0

    modal: false
    focus: true
    // Outside the parent as well: a press on the icon leaves the popover to the icon, which
    // closes it, instead of closing it here and opening it again on the click.
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutsideParent
    padding: 14
    width: Math.max(200, Math.min(implicitContentWidth + leftPadding + rightPadding,
                                  windowWidth - 2 * windowMargin))
    x: Math.max(windowMargin - placement.anchorX,
                Math.min((parent ? parent.width : 0) / 2 - width / 2,
                         windowWidth - windowMargin - placement.anchorX - width))
    y: placement.above ? -height - gap : (parent ? parent.height : 0) + gap

    onAboutToShow: {
        // The popup's own item is the dialog a screen reader enters (a Popup's Accessible does
        // not reach it): named as the button that opens it, the popover having no title.
        contentItem.parent.Accessible.name = "账户信息"
        placement.update()
        focusReturn.capture(parent ? parent.Window.window : null)
    }
    onOpened: focusReturn.enter(backupButton.enabled ? backupButton : signOutButton)
    onClosed: focusReturn.restore()

    FocusReturn { id: focusReturn }

    // Whether the last command was pressed from the keyboard (its ring showed).
    property bool commandByKeyboard: false
    // The command buttons are disabled while a command runs, and each status (处理中…, then the
    // result) appears below them: the focus moves to the status line, so a screen reader reads
    // each status as it comes and the focus is never left on a disabled button.
    Connections {
        target: popup.backupCoordinator
        function onStatusChanged() {
            if (!popup.opened || !popup.activeFocus || !statusLine.visible)
                return
            statusLine.visualFocus = popup.commandByKeyboard
            statusLine.forceActiveFocus(popup.commandByKeyboard ? Qt.TabFocusReason : Qt.OtherFocusReason)
        }
    }

    // Where the parent is in the window, read each time the popover opens.
    QtObject {
        id: placement
        property bool above: true
        property real anchorX: 0

        function update() {
            const overlay = popup.Overlay.overlay
            if (!overlay || !popup.parent)
                return
            const origin = popup.parent.mapToItem(overlay, 0, 0)
            above = origin.y - popup.gap - popup.implicitHeight >= popup.windowMargin
            anchorX = origin.x
        }
    }

    // Signs out through the same path as the settings window.
    SettingsController {
        id: account
        auth: popup.auth
    }

    // The arrow on the edge that faces the icon, pointing at the icon's centre.
    readonly property real arrowSize: 12
    readonly property real arrowX: Math.max(10 + arrowSize, Math.min(width - 10 - arrowSize,
                                            (parent ? parent.width : 0) / 2 - x))

    background: Item {
        Rectangle {
            objectName: "userInfo.arrow"
            width: popup.arrowSize
            height: popup.arrowSize
            x: popup.arrowX - width / 2
            y: popup.opensAbove ? parent.height - height / 2 : -height / 2
            rotation: 45
            color: Qt.rgba(10 / 255, 5 / 255, 26 / 255, 1)
            border.width: 1
            border.color: Qt.alpha("white", 0.1)
        }
        Rectangle {
            anchors.fill: parent
            color: Qt.rgba(10 / 255, 5 / 255, 26 / 255, 1)
            radius: 10
            border.width: 1
            border.color: Qt.alpha("white", 0.1)
        }
        // Opens the border where the arrow joins the panel.
        Rectangle {
            width: popup.arrowSize * Math.SQRT2 - 4
            height: 2
            x: popup.arrowX - width / 2
            y: popup.opensAbove ? parent.height - height : 0
            color: Qt.rgba(10 / 255, 5 / 255, 26 / 255, 1)
        }
    }

    contentItem: ColumnLayout {
        objectName: "userInfo.content"
        spacing: 12

        Text {
            objectName: "userInfo.email"
            visible: popup.email !== ""
            Layout.fillWidth: true
            text: popup.email
            textFormat: Text.PlainText
            font.pixelSize: 13
            font.weight: Font.DemiBold
            color: "white"
            elide: Text.ElideRight
            maximumLineCount: 1
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Rectangle {
            objectName: "userInfo.divider"
            Layout.fillWidth: true
            implicitHeight: 1
            color: Qt.alpha("white", 0.12)
        }

        ColumnLayout {
            objectName: "userInfo.backupSection"
            visible: popup.signedIn
            Layout.fillWidth: true
            spacing: 6

            UserInfoButton {
                id: backupButton
                objectName: "userInfo.backup"
                text: "备份到服务器"
                enabled: popup.backupCoordinator !== null && !popup.busy
                onClicked: {
                    popup.commandByKeyboard = visualFocus
                    popup.backupCoordinator.startBackup()
                }
            }
            UserInfoButton {
                objectName: "userInfo.restore"
                text: "从服务器恢复"
                enabled: popup.backupCoordinator !== null && !popup.busy
                onClicked: {
                    popup.commandByKeyboard = visualFocus
                    popup.backupCoordinator.startRestore()
                }
            }
            Text {
                objectName: "userInfo.note"
                Layout.fillWidth: true
                Layout.preferredWidth: 0 // wraps at the popover's width instead of widening it
                text: "恢复会覆盖当前本地记录"
                font.pixelSize: 11
                color: Qt.alpha("white", 0.45)
                wrapMode: Text.Wrap
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            Text {
                id: statusLine
                objectName: "userInfo.status"
                // Focused from the keyboard: its ring shows (a plain item would show it always).
                property bool visualFocus: false
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                FocusRing { radius: 4; inset: -3 }
                visible: popup.backupCoordinator !== null
                         && popup.backupCoordinator.status !== BackupCoordinator.Idle
                Layout.fillWidth: true
                Layout.preferredWidth: 0
                text: popup.backupCoordinator ? popup.backupCoordinator.statusText : ""
                textFormat: Text.PlainText
                font.pixelSize: 11
                color: {
                    switch (popup.backupCoordinator ? popup.backupCoordinator.statusTone : BackupCoordinator.None) {
                    case BackupCoordinator.Success: return Theme.neonCyan
                    case BackupCoordinator.Failure: return Theme.neonPink
                    case BackupCoordinator.Neutral: return Theme.textSecondary
                    default: return "transparent"
                    }
                }
                wrapMode: Text.Wrap
            }
        }

        Rectangle {
            objectName: "userInfo.secondDivider"
            visible: popup.signedIn
            Layout.fillWidth: true
            implicitHeight: 1
            color: Qt.alpha("white", 0.12)
        }

        UserInfoButton {
            id: signOutButton
            objectName: "userInfo.signOut"
            text: "退出登录"
            // Closed first: the popover is gone before the sign-out request is on its way.
            onClicked: {
                popup.close()
                account.signOut()
            }
        }
    }
}
