import QtQuick
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player

// The player's root view (placeholder until the lyrics panel and the study panel arrive): the
// playing song on the window's ink colour, with the application's toast over the bottom.
Item {
    id: root

    required property PlayerViewModel vm
    required property CardStore cardStore
    required property CardLightingCoordinator cardLighting
    required property ToastCenter toastCenter
    required property ClockHandle clocks
    required property bool reduceMotion

    signal retryLyricsRequested()
    signal retryCardsRequested()

    implicitWidth: 800
    implicitHeight: 950

    NowPlayingCaption {
        id: caption
        vm: root.vm
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.backgroundInk
    }

    Column {
        anchors.centerIn: parent
        width: parent.width - 80
        spacing: 8

        Text {
            objectName: "mainView.title"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            textFormat: Text.PlainText
            elide: Text.ElideRight
            color: "white"
            font.pixelSize: 28
            font.weight: Font.Bold
            text: caption.title
        }
        Text {
            objectName: "mainView.artist"
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            textFormat: Text.PlainText
            elide: Text.ElideRight
            color: Qt.alpha("white", 0.7)
            font.pixelSize: 16
            text: caption.artist
        }
    }

    // Any toast of the application, over the bottom of the window.
    ToastView {
        objectName: "mainView.toast"
        anchors.fill: parent
        text: root.toastCenter.currentText
        toastId: root.toastCenter.currentId
        reduceMotion: root.reduceMotion
    }
}
