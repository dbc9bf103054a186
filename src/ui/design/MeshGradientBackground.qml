import QtQuick
import Cantorella.Design

// The drifting field of four blurred neon glows. Inputs as the drift's (elapsed, isAnimating,
// cycle, drift, scale) plus the frame clock that animates it. Drawn by one shader into a
// quarter-size layer (the field is blurred anyway); the software renderer, which cannot run
// shaders, shows the plain background.
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

    Rectangle {
        anchors.fill: parent
        color: Theme.backgroundInk
    }

    // The shader draws the field at rest, once, into a quarter-size texture (the field is
    // blurred anyway); the drift only re-places that texture. Changing the shader's inputs
    // instead would re-render the layer and cost the window a second frame after each change.
    // Drawn beyond the view's edges by the drift's overscan, so that no drift offset uncovers a
    // strip along an edge; the glows and the edge fade stay placed on the view itself.
    readonly property real overscan: Math.ceil(drift.overscan(width, height))

    ShaderEffect {
        id: mesh
        objectName: "meshGradient.shader"
        anchors.fill: parent
        anchors.margins: -root.overscan
        visible: false

        property size itemSize: Qt.size(width, height)
        property point viewOrigin: Qt.point(root.overscan, root.overscan)
        property size viewSize: Qt.size(root.width, root.height)
        property color glow1: Theme.neonPink
        property color glow2: Theme.neonCyan
        property color glow3: Theme.neonViolet
        property color glow4: Theme.neonBlue

        fragmentShader: "qrc:/Cantorella/Design/shaders/mesh.frag.qsb"
    }

    ShaderEffectSource {
        id: field
        objectName: "meshGradient.field"
        anchors.fill: parent
        anchors.margins: -root.overscan
        visible: GraphicsInfo.api !== GraphicsInfo.Software
        sourceItem: mesh
        live: false
        smooth: true
        textureSize: Qt.size(Math.max(1, Math.ceil(width / 4)), Math.max(1, Math.ceil(height / 4)))
        onTextureSizeChanged: scheduleUpdate()
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
