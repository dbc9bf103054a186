import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session

// Asks before taking a card out of the mastered set: centred over its parent, non-modal, closed
// by Escape or a press outside.
Popup {
    id: popup

    property LearnedCard card: null
    signal confirmed()

    anchors.centerIn: parent
    modal: false
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    padding: 20
    width: 240
    onAboutToShow: focusReturn.capture(parent ? parent.Window.window : null)
    onOpened: focusReturn.enter(confirm)
    onClosed: focusReturn.restore()

    FocusReturn { id: focusReturn }

    background: Rectangle {
        color: Qt.rgba(10 / 255, 5 / 255, 26 / 255, 1)
        radius: 10
        border.width: 1
        border.color: Qt.alpha("white", 0.1)
    }

    contentItem: ColumnLayout {
        spacing: 16

        Text {
            Layout.alignment: Qt.AlignHCenter
            text: "取消掌握此卡片？"
            textFormat: Text.PlainText
            font.pixelSize: 14
            font.weight: Font.DemiBold
            color: "white"
        }
        Text {
            objectName: "unmaster.phrase"
            Layout.fillWidth: true
            text: popup.card ? "\"" + popup.card.en + "\"" : ""
            textFormat: Text.PlainText
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            maximumLineCount: 3
            elide: Text.ElideRight
            font.pixelSize: 12
            color: Theme.textSecondary
        }
        Button {
            id: confirm
            objectName: "unmaster.confirm"
            Layout.alignment: Qt.AlignHCenter
            text: "取消掌握"
            font.pixelSize: 13
            leftPadding: 14
            rightPadding: 14
            topPadding: 6
            bottomPadding: 6
            background: Rectangle {
                radius: 6
                color: Qt.alpha(Theme.neonPink, confirm.down ? 0.6 : 0.8)
            }
            contentItem: Text {
                text: confirm.text
                textFormat: Text.PlainText
                font: confirm.font
                color: "white"
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            onClicked: popup.confirmed()
            FocusRing { radius: 6 }
        }
    }
}
