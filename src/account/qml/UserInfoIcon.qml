import QtQuick
import QtQuick.Controls
import Cantorella.Account
import Cantorella.Design

// The account button of the lyrics panel: the account glyph on a faint circle. It opens the
// account popover and closes it again; it shows nothing while nobody is signed in.
AbstractButton {
    id: root
    objectName: "userInfoIcon"

    property QtObject auth: null
    property BackupCoordinator backupCoordinator: null

    readonly property alias popover: popover

    visible: auth !== null && auth.isSignedIn
    implicitWidth: 26
    implicitHeight: 26
    padding: 0
    Accessible.name: "账户信息"

    onClicked: popover.visible ? popover.close() : popover.open()
    // A session that ends (here or in the settings window) takes the popover with it.
    onVisibleChanged: if (!visible) popover.close()

    FocusRing {}

    background: Rectangle {
        radius: width / 2
        color: Qt.alpha("white", root.down ? 0.2 : 0.12)
    }
    contentItem: Item {
        Icon {
            anchors.centerIn: parent
            name: "person.fill"
            size: 14
            color: Theme.textPrimary
        }
    }

    UserInfoPopover {
        id: popover
        objectName: "userInfoPopover"
        auth: root.auth
        backupCoordinator: root.backupCoordinator
    }
}
