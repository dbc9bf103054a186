import QtQuick
import QtQuick.Layouts

// A labelled value of the settings form: the label leading, the value trailing.
RowLayout {
    id: row

    property string label
    property string value
    property string valueObjectName

    Layout.fillWidth: true
    Layout.margins: 10
    spacing: 12

    Text {
        text: row.label
        font.pixelSize: 13
        color: "white"
    }
    Text {
        objectName: row.valueObjectName
        Layout.fillWidth: true
        text: row.value
        textFormat: Text.PlainText
        horizontalAlignment: Text.AlignRight
        elide: Text.ElideMiddle
        font.pixelSize: 13
        color: Qt.alpha("white", 0.55)
    }
    Accessible.role: Accessible.StaticText
    Accessible.name: row.label + " " + row.value
}
