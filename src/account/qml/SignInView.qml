import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Shapes
import Qt5Compat.GraphicalEffects as Effects
import Cantorella.Account
import Cantorella.Design

// The full-window sign-in screen: the shell shows it while the authentication service has no
// session and replaces it once one is published. Everything it shows comes from its own view
// model, so a new instance starts empty in sign-in mode.
Item {
    id: root
    FocusKeeper.pane: true

    required property QtObject auth
    // The shell's word on why the last session ended; shown in the error banner on arrival.
    property string notice: ""

    readonly property alias viewModel: vm

    implicitWidth: 600
    implicitHeight: 800

    Component.onCompleted: if (notice.length > 0) vm.showError(notice)

    AuthViewModel {
        id: vm
        auth: root.auth
        onModeSwitched: {
            modeFade.stop()
            modeFade.start()
        }
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.backgroundInk
    }

    // Violet glow from the middle of the top edge.
    Shape {
        anchors.fill: parent
        ShapePath {
            strokeWidth: -1
            fillGradient: RadialGradient {
                centerX: root.width / 2
                centerY: 0
                centerRadius: 520
                focalX: centerX
                focalY: centerY
                GradientStop { position: 0; color: Qt.alpha(Theme.neonViolet, 0.22) }
                GradientStop { position: 1; color: "transparent" }
            }
            startX: 0
            startY: 0
            PathLine { x: root.width; y: 0 }
            PathLine { x: root.width; y: root.height }
            PathLine { x: 0; y: root.height }
            PathLine { x: 0; y: 0 }
        }
    }

    ColumnLayout {
        id: content
        anchors.centerIn: parent
        width: Math.min(380, Math.max(0, root.width - 80))
        spacing: 24

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8

            Text {
                id: title
                Layout.alignment: Qt.AlignHCenter
                text: "Cantorella"
                font.pixelSize: 34
                font.weight: Font.ExtraBold
                color: Theme.neonCyan
                visible: false
            }
            Effects.LinearGradient {
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: title.implicitWidth
                Layout.preferredHeight: title.implicitHeight
                source: title
                start: Qt.point(0, 0)
                end: Qt.point(width, 0)
                gradient: Gradient {
                    GradientStop { position: 0; color: Theme.neonCyan }
                    GradientStop { position: 0.5; color: Theme.neonViolet }
                    GradientStop { position: 1; color: Theme.neonPink }
                }
                Accessible.role: Accessible.StaticText
                Accessible.name: title.text
            }

            Text {
                id: heading
                objectName: "signIn.heading"
                Accessible.role: Accessible.Heading
                Accessible.name: text
                Layout.fillWidth: true // also lets the header column take the content's width
                horizontalAlignment: Text.AlignHCenter
                text: vm.heading
                font.pixelSize: 14
                font.weight: Font.Medium
                color: Theme.textSecondary
            }
        }

        // The form: e-mail, password, banners, submit and the mode switch.
        Rectangle {
            id: formPanel
            objectName: "signIn.form"
            Layout.fillWidth: true
            Layout.preferredHeight: form.implicitHeight + 56
            visible: !vm.isAwaitingConfirmation
            color: Theme.surfaceFaint
            radius: 18
            border.color: Theme.strokeSubtle
            border.width: 1

            ColumnLayout {
                id: form
                anchors.fill: parent
                anchors.margins: 28
                spacing: 16

                AuthField {
                    inputObjectName: "signIn.email"
                    label: "邮箱"
                    placeholder: "name@example.com"
                    text: vm.email
                    inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText
                    onEdited: (value) => vm.email = value
                }
                AuthField {
                    inputObjectName: "signIn.password"
                    label: "密码"
                    placeholder: "至少 6 位"
                    text: vm.password
                    echoMode: TextInput.Password
                    inputMethodHints: Qt.ImhSensitiveData | Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText
                    onEdited: (value) => vm.password = value
                }

                MessageBanner {
                    objectName: "signIn.errorBanner"
                    visible: vm.hasErrorMessage
                    text: vm.errorMessage
                    tint: Theme.neonPink
                }
                MessageBanner {
                    objectName: "signIn.infoBanner"
                    visible: vm.hasInfoMessage
                    text: vm.infoMessage
                    tint: Theme.neonCyan
                }

                AbstractButton {
                    id: submit
                    objectName: "signIn.submit"
                    Layout.fillWidth: true
                    enabled: !vm.isBusy
                    opacity: vm.isBusy ? 0.6 : 1.0
                    topPadding: 12
                    bottomPadding: 12
                    text: vm.submitTitle
                    Accessible.name: text
                    onClicked: vm.submit()

                    FocusRing { radius: 12 }

                    background: Rectangle {
                        radius: 12
                        gradient: Gradient {
                            orientation: Gradient.Horizontal
                            GradientStop { position: 0; color: Theme.neonCyan }
                            GradientStop { position: 1; color: Theme.neonViolet }
                        }
                    }
                    contentItem: RowLayout {
                        spacing: 8
                        opacity: submit.down ? 0.7 : 1.0
                        Item { Layout.fillWidth: true }
                        BusyIndicator {
                            objectName: "signIn.busy"
                            visible: vm.isBusy
                            running: visible
                            Layout.preferredWidth: 16
                            Layout.preferredHeight: 16
                            palette.dark: Theme.backgroundInk
                        }
                        Text {
                            text: submit.text
                            font.pixelSize: 15
                            font.weight: Font.DemiBold
                            color: Theme.backgroundInk
                        }
                        Item { Layout.fillWidth: true }
                    }
                }

                LinkButton {
                    objectName: "signIn.modeSwitch"
                    Layout.alignment: Qt.AlignHCenter
                    text: vm.modeSwitchTitle
                    tint: Theme.neonCyan
                    onClicked: vm.switchMode()
                }
            }
        }

        // After a registration that awaits the e-mail confirmation.
        Rectangle {
            objectName: "signIn.confirmation"
            Layout.fillWidth: true
            Layout.preferredHeight: confirmation.implicitHeight + 56
            visible: vm.isAwaitingConfirmation
            color: Theme.surfaceFaint
            radius: 18
            border.color: Theme.strokeSubtle
            border.width: 1

            ColumnLayout {
                id: confirmation
                anchors.fill: parent
                anchors.margins: 28
                spacing: 16

                Icon {
                    objectName: "signIn.envelope"
                    Layout.alignment: Qt.AlignHCenter
                    name: "envelope.badge"
                    size: 40
                    color: Theme.neonCyan
                    Accessible.ignored: true
                }
                Text {
                    Layout.alignment: Qt.AlignHCenter
                    text: "请查收确认邮件"
                    font.pixelSize: 18
                    font.weight: Font.DemiBold
                    color: "white"
                }
                Text {
                    objectName: "signIn.confirmationText"
                    Layout.fillWidth: true
                    text: vm.confirmationText
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: 13
                    color: Theme.textSecondary
                }
                MessageBanner {
                    objectName: "signIn.confirmationInfoBanner"
                    visible: vm.hasInfoMessage
                    text: vm.infoMessage
                    tint: Theme.neonCyan
                }
                LinkButton {
                    objectName: "signIn.resend"
                    Layout.alignment: Qt.AlignHCenter
                    text: "重新发送确认邮件"
                    tint: Theme.neonCyan
                    weight: Font.Medium
                    onClicked: vm.resend()
                }
                LinkButton {
                    objectName: "signIn.backToSignIn"
                    Layout.alignment: Qt.AlignHCenter
                    text: "返回登录"
                    tint: Theme.textTertiary
                    onClicked: vm.backToSignIn()
                }
            }
        }
    }

    // The user's mode switch: the changed texts fade in.
    NumberAnimation {
        id: modeFade
        targets: [heading, submit.contentItem]
        property: "opacity"
        from: 0
        to: 1
        duration: 350
        easing.type: Easing.BezierSpline
        easing.bezierCurve: Motion.easeInOut
    }
}
