import QtQuick

// The comparator for scripts/measure-motion.sh: a plain Qt Quick window (440 × 600 at x 820, beside
// the player's 800-point window) with a ListView of text rows that scrolls by a given distance
// with a NumberAnimation, ease-in-out (0.42, 0, 0.58, 1), down and up again every 1.2 s.
// Arguments: "distance=PX" (default 280) and "duration=MS" (default 400).
Window {
    id: window
    x: 820
    y: 0
    width: 440
    height: 600
    visible: true
    color: "#06030f"

    function argument(name, fallback) {
        const args = Qt.application.arguments
        for (let i = 0; i < args.length; ++i) {
            if (args[i].startsWith(name + "="))
                return Number(args[i].substring(name.length + 1))
        }
        return fallback
    }
    readonly property real distance: argument("distance", 280)
    readonly property int duration: argument("duration", 400)
    property bool down: true

    Timer {
        interval: 1200
        repeat: true
        running: true
        onTriggered: {
            scroll.to = window.down ? list.contentY + window.distance : list.contentY - window.distance
            window.down = !window.down
            scroll.restart()
        }
    }

    ListView {
        id: list
        anchors.fill: parent
        clip: true
        model: 60
        spacing: 16
        contentY: 400
        delegate: Text {
            required property int index
            width: ListView.view.width - 40
            x: 20
            wrapMode: Text.Wrap
            textFormat: Text.PlainText
            // Rows of different lengths and sizes, so no two stretches of the list look alike.
            font.pixelSize: 16 + (index * 7) % 11
            color: index % 3 === 0 ? "white" : Qt.rgba(1, 1, 1, 0.6)
            text: "Row " + (index + 1) + ": " + "through many dangers, toils and snares".substring(0, 8 + (index * 13) % 31)
        }

        NumberAnimation {
            id: scroll
            target: list
            property: "contentY"
            duration: window.duration
            easing.type: Easing.Bezier
            easing.bezierCurve: [0.42, 0, 0.58, 1, 1, 1]
        }
    }
}
