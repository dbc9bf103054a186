import QtQuick
import QtQuick.Controls.Basic
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

    TextField {
        id: field
        Layout.fillWidth: true
        text: group.text
        echoMode: group.echoMode
        passwordCharacter: group.passwordCharacter
        inputMethodHints: group.inputMethodHints
        placeholderText: group.placeholder
        placeholderTextColor: Qt.alpha("white", 0.3)
        color: "white"
        selectionColor: Qt.alpha(Theme.neonCyan, 0.4)
        selectedTextColor: "white"
        font.pixelSize: 15
        leftPadding: 12
        rightPadding: 12
        topPadding: 10
        bottomPadding: 10
        // Qt hides a password field's name (with its text): its description carries the label.
        Accessible.passwordEdit: echoMode === TextInput.Password
        Accessible.name: group.label
        Accessible.description: echoMode === TextInput.Password ? group.label + " " + group.placeholder : group.placeholder
        onTextEdited: group.edited(text)

        background: Rectangle {
            radius: 10
            color: Theme.surfaceFill
            border.color: Theme.strokeSubtle
            border.width: 1
        }
    }
}
