import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Cantorella.Account
import Cantorella.Design

// The settings window's content: the signed-in account with its sign-out button, and where
// lyrics and study cards come from. Nothing is editable. The form scrolls when the window is
// smaller than it (the window's minimum is minimumWidth × minimumHeight).
Rectangle {
    id: root
    FocusKeeper.pane: true

    property QtObject auth

    readonly property alias controller: settings

    // The sign-out button was pressed, just before the sign-out; `byKeyboard` when it had the
    // keyboard's focus.
    signal signingOut(bool byKeyboard)

    readonly property int minimumWidth: 420
    readonly property int minimumHeight: 300

    implicitWidth: Math.max(minimumWidth, form.implicitWidth + 40)
    implicitHeight: Math.max(minimumHeight, form.implicitHeight + 40)
    color: Theme.backgroundInk

    SettingsController {
        id: settings
        auth: root.auth
    }

    Flickable {
        id: scroller
        anchors.fill: parent
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        contentWidth: width
        contentHeight: form.implicitHeight + 40
        ScrollBar.vertical: ScrollBar {
            palette.dark: Qt.alpha("white", 0.5)
            palette.mid: Qt.alpha("white", 0.3)
        }

        ColumnLayout {
            id: form
            x: 20
            y: 20
            width: scroller.width - 40
            spacing: 8

            SettingsSection {
                title: "账户"

                SettingsRow {
                    label: "登录邮箱"
                    value: settings.accountEmail
                    valueObjectName: "settings.email"
                }
                SettingsDivider {}
                RowLayout {
                    Layout.fillWidth: true
                    Layout.margins: 10
                    Item { Layout.fillWidth: true }
                    UserInfoButton {
                        objectName: "settings.signOut"
                        text: "退出登录"
                        enabled: settings.canSignOut
                        font.pixelSize: 13
                        onClicked: {
                            root.signingOut(visualFocus)
                            settings.signOut()
                        }
                        // Disabled, it lets the focus go for good: enabled again (the next
                        // sign-in), it must not take it back in a window that may be closed.
                        onEnabledChanged: if (!enabled) focus = false
                    }
                }
            }

            SettingsSection {
                title: "LLM Provider"
                Layout.topMargin: 12

                SettingsRow {
                    label: "Provider"
                    value: settings.provider
                }
                SettingsDivider {}
                SettingsRow {
                    label: "Endpoint"
                    value: settings.endpoint
                    valueObjectName: "settings.endpoint"
                }
                SettingsDivider {}
                Text {
                    objectName: "settings.note"
                    Layout.fillWidth: true
                    Layout.margins: 10
                    text: "歌词和学习卡片均由 Cantorella 后端服务提供。这里不提供配置、保存、清除或测试连接入口。"
                    wrapMode: Text.Wrap
                    font.pixelSize: 12
                    color: Qt.alpha("white", 0.55)
                }
            }
        }
    }
}
