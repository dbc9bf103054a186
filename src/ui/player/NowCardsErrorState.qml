import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// Making the study cards failed: the detail (selectable) and a retry.
Item {
    id: root

    // The detail line, shown as it is.
    property string detail
    property bool reduceMotion: SystemMotion.reduceMotion

    signal retryRequested()

    ColumnLayout {
        anchors.centerIn: parent
        anchors.verticalCenterOffset: 20
        width: parent.width
        spacing: 10

        Text {
            Accessible.ignored: true
            Layout.alignment: Qt.AlignHCenter
            text: "⚠️"
            font.family: "Noto Color Emoji"
            font.pixelSize: 22
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            Layout.alignment: Qt.AlignHCenter
            text: "金句生成失败"
            font.pixelSize: 14
            font.weight: Font.DemiBold
            color: "white"
        }
        TextEdit {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            objectName: "nowCardsError.detail"
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            readOnly: true
            textFormat: TextEdit.PlainText
            wrapMode: TextEdit.Wrap
            horizontalAlignment: TextEdit.AlignHCenter
            text: root.detail
            font.pixelSize: 12
            color: Theme.textSecondary
            selectionColor: Qt.alpha(Theme.neonCyan, 0.4)
        }
        CTButton {
            objectName: "nowCardsError.retry"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 2
            tone: CT.NeonCyan
            reduceMotion: root.reduceMotion
            iconName: "arrow.clockwise"
            text: "重试"
            font.pixelSize: 12
            font.weight: Font.Medium
            onClicked: root.retryRequested()
        }
    }
}
