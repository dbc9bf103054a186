import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// A labelled text field of the sign-in form. The text is shown from `text` and every user edit
// is reported through `edited`; the field never writes back into its source on its own.
// Return does nothing here: the form is sent only by its button.
ColumnLayout {
    id: group

    property string label
    property string placeholder
    property string text
    property int echoMode: TextInput.Normal
    property string passwordCharacter: "\u2022"
    property int inputMethodHints: Qt.ImhNone
    property alias inputObjectName: field.objectName

    signal edited(string value)

    Layout.fillWidth: true
    spacing: 6

    Text {
        text: group.label
        Accessible.role: Accessible.StaticText
        Accessible.name: text
        font.pixelSize: 12
        font.weight: Font.Medium
        color: Theme.textTertiary
    }

    // A plain TextInput, not a Controls TextField: screen readers get no name for a TextField in
    // password mode (Qt 6.4 over AT-SPI reports it unnamed whatever Accessible.name says), while
    // a TextInput's name reaches them. The background and the placeholder are drawn here.
    Rectangle {
        Layout.fillWidth: true
        implicitHeight: field.implicitHeight
        radius: 10
        color: Theme.surfaceFill
        border.color: Theme.strokeSubtle
        border.width: 1

        Text {
            anchors.fill: field
            anchors.leftMargin: field.leftPadding
            anchors.rightMargin: field.rightPadding
            verticalAlignment: Text.AlignVCenter
            visible: field.text.length === 0 && !field.preeditText
            text: group.placeholder
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font: field.font
            color: Qt.alpha("white", 0.3)
            Accessible.ignored: true
        }

        TextInput {
            id: field
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: group.text
            echoMode: group.echoMode
            passwordCharacter: group.passwordCharacter
            inputMethodHints: group.inputMethodHints
            activeFocusOnTab: true
            selectByMouse: true
            clip: true
            color: "white"
            selectionColor: Qt.alpha(Theme.neonCyan, 0.4)
            selectedTextColor: "white"
            font.pixelSize: 15
            leftPadding: 12
            rightPadding: 12
            topPadding: 10
            bottomPadding: 10
            Accessible.name: group.label
            Accessible.description: group.placeholder
            onTextEdited: group.edited(text)
        }

        FocusRing { control: field; radius: 10 }
    }
}
