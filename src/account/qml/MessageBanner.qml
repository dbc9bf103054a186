import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// A line of feedback on the sign-in screen, in its colour over a faint fill of that colour;
// announced to a screen reader as it appears.
Rectangle {
    id: banner

    property alias text: label.text
    property color tint: "white"

    Layout.fillWidth: true
    implicitHeight: label.implicitHeight + 16
    radius: 8
    color: Qt.alpha(tint, 0.1)

    AnnouncedText {
        id: label
        objectName: banner.objectName !== "" ? banner.objectName + ".text" : ""
        // The ring inside the banner's edge, clear of the text.
        ringInset: -6
        ringRadius: 6
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        anchors.topMargin: 8
        anchors.bottomMargin: 8
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignLeft
        font.pixelSize: 12
        color: banner.tint
    }
}
