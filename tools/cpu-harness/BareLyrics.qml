import QtQuick

// The comparator for the lyrics view's CPU figures: plain Qt Quick, 800 × 950, 40 wrapped text
// lines in a Flickable, a new active line every 2.5 s, centred either with a snap or (with the
// argument "animated") with a 400 ms animated contentY on the bezier (0.42, 0, 0.58, 1).
Window {
    id: window
    width: 800
    height: 950
    visible: true
    color: "#06030f"

    readonly property bool animated: Qt.application.arguments.indexOf("animated") >= 0
    property int active: 0

    function centre() {
        const row = lines.children[active]
        const target = Math.max(0, Math.min(row.y + row.height / 2 - flick.height / 2,
                                            flick.contentHeight - flick.height))
        if (animated) {
            scroll.to = target
            scroll.restart()
        } else {
            flick.contentY = target
        }
    }

    Timer {
        interval: 2500
        repeat: true
        running: true
        onTriggered: {
            window.active = (window.active + 1) % 40
            window.centre()
        }
    }

    Flickable {
        id: flick
        anchors.fill: parent
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        contentWidth: width
        contentHeight: lines.height

        NumberAnimation {
            id: scroll
            target: flick
            property: "contentY"
            duration: 400
            easing.type: Easing.Bezier
            easing.bezierCurve: [0.42, 0, 0.58, 1, 1, 1]
        }

        Column {
            id: lines
            x: 40
            width: flick.width - 80
            spacing: 16

            Repeater {
                model: 40
                Text {
                    required property int index
                    width: lines.width
                    wrapMode: Text.Wrap
                    textFormat: Text.PlainText
                    font.pixelSize: 28
                    font.weight: Font.DemiBold
                    color: index === window.active ? "white" : Qt.rgba(1, 1, 1, 0.4)
                    text: "Line " + (index + 1) + ": through many dangers, toils and snares I have already come"
                }
            }
        }
    }
}
