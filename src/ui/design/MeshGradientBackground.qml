import QtQuick
import Cantorella.Design

// The drifting field of four blurred neon glows. Inputs as the drift's (elapsed, isAnimating,
// cycle, drift, scale) plus the frame clock that animates it. Drawn as an opaque grid of the
// field's colours (MeshFieldGrid); the software renderer, which draws no custom geometry, shows
// the plain background.
Item {
    id: root

    property real elapsed: 0
    property bool isAnimating: false
    property real cycleDuration: 14
    property real maxDriftX: 20
    property real maxDriftY: -20
    property real maxScale: 1.05
    property FrameClock frameClock: null

    readonly property alias progress: drift.progress

    Accessible.ignored: true

    MeshDrift {
        id: drift
        elapsed: root.elapsed
        isAnimating: root.isAnimating
        cycleDuration: root.cycleDuration
        maxDriftX: root.maxDriftX
        maxDriftY: root.maxDriftY
        maxScale: root.maxScale
        frameClock: root.frameClock
    }

    // Shown where the grid is not drawn (the software renderer).
    Rectangle {
        anchors.fill: parent
        color: Theme.backgroundInk
        visible: !field.visible
    }

    // The field at rest, drawn once as an opaque grid of colours over the ink; the drift only
    // re-places it (changing the field's inputs instead would rebuild the grid). Drawn beyond the
    // view's edges by the drift's overscan, so that no drift offset uncovers a strip along an
    // edge; the glows and the edge fade stay placed on the view itself.
    readonly property real overscan: Math.ceil(drift.overscan(width, height))

    MeshFieldGrid {
        id: field
        objectName: "meshGradient.field"
        anchors.fill: parent
        anchors.margins: -root.overscan
        visible: GraphicsInfo.api !== GraphicsInfo.Software
        viewOrigin: Qt.point(root.overscan, root.overscan)
        viewSize: Qt.size(root.width, root.height)
        glow1: Theme.neonPink
        glow2: Theme.neonCyan
        glow3: Theme.neonViolet
        glow4: Theme.neonBlue
        backdrop: Theme.backgroundInk
        transform: [
            Scale {
                origin.x: field.width / 2
                origin.y: field.height / 2
                xScale: drift.scale
                yScale: drift.scale
            },
            Translate {
                x: drift.offset.x
                y: drift.offset.y
            }
        ]
    }
}
