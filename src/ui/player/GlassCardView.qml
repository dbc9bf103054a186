import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects
import Cantorella.Design
import Cantorella.Player

// One study card on glass: tag, repeat badge, time chip, the phrase, its sections, the example
// and the share, heart and mastered buttons. Keeps no state: the owner hands in every value and
// receives the taps. The lit, dimmed, mastered and approaching looks come from GlassCardLooks;
// each cause animates with its own curve.
Item {
    id: card

    property string cardId: ""
    property string en: ""
    property string cn: ""
    property string note: ""
    property string example: ""
    property string tag: ""
    property string timeChipText: ""            // "" hides the chip
    property string timeChipAccessibleText: ""
    property var pronunciationText: null        // null hides the row
    property var culturalText: null             // null hides the row
    property bool learned: false
    property var isFavorite: null               // null hides the heart
    property bool hasFavoriteAction: false       // without it the heart is hidden too
    property bool hasShare: false
    property bool isActive: false
    property bool isDimmed: false
    property real preflightProgress: 0
    property bool hasRepeatLabel: false
    property int repeatN: 1
    property int repeatTotal: 1
    property bool reduceMotion: SystemMotion.reduceMotion

    signal toggleRequested()
    signal toggleFavoriteRequested()
    signal shareRequested()

    readonly property glassCardLook look: GlassCardLooks.look(isActive, isDimmed, learned, preflightProgress, reduceMotion)
    // Paces the transitions between looks (the shared frame clock); none: they land at once.
    property QtObject frameClock: null
    // The shown values: `look` at creation, then each cause below moves them towards it, from
    // where they are, along the cause's own curve. Not bound to `look`, which would jump.
    property real shownOpacity: 1
    property real shownScale: 1
    property real shownBorderWidth: 1
    property real shownBorderOpacity: 1
    property real shownGlow: 0
    property var from: ({})
    property var to: ({})
    property bool ready: false

    implicitHeight: content.implicitHeight + 32
    scale: shownScale

    function show(p) {
        shownOpacity = from.opacity + (to.opacity - from.opacity) * p
        shownScale = from.scale + (to.scale - from.scale) * p
        shownBorderWidth = from.borderWidth + (to.borderWidth - from.borderWidth) * p
        shownBorderOpacity = from.borderOpacity + (to.borderOpacity - from.borderOpacity) * p
        shownGlow = from.glow + (to.glow - from.glow) * p
    }

    // Reads the inputs afresh: a change handler may run before the `look` binding has followed.
    function animateTo(seconds, linear) {
        const target = GlassCardLooks.look(isActive, isDimmed, learned, preflightProgress, reduceMotion)
        // Reduce Motion keeps the transitions: `look` already leaves out the preflight swell.
        from = { opacity: shownOpacity, scale: shownScale, borderWidth: shownBorderWidth,
                 borderOpacity: shownBorderOpacity, glow: shownGlow }
        to = { opacity: target.opacity, scale: target.scale, borderWidth: target.borderWidth,
               borderOpacity: target.borderOpacity, glow: target.glow ? 1 : 0 }
        tween.start(seconds, linear)
        show(tween.progress)
    }
    Component.onCompleted: {
        animateTo(0, false)
        ready = true
    }
    onLearnedChanged: if (ready) animateTo(0.3, false)
    onIsActiveChanged: if (ready) animateTo(0.25, false)
    onIsDimmedChanged: if (ready) animateTo(0.25, false)
    onPreflightProgressChanged: if (ready) animateTo(2.0, true)
    onReduceMotionChanged: if (ready) animateTo(0, false)

    FrameTween {
        id: tween
        frameClock: card.frameClock
        // Under Reduce Motion the looks still change over their time, in fewer steps.
        ambientPace: card.reduceMotion
        onProgressChanged: if (running) card.show(progress)
    }

    // Where the card's shadow reaches past its edge (offset 10 down, blurred 15 around): the
    // texture below is that much larger than the card, since a layer keeps only its own bounds.
    readonly property int shadowSide: 20
    readonly property int shadowTop: 6
    readonly property int shadowBottom: 30
    // The border's colours, greyed as the texture is for a mastered card that is not lit.
    readonly property color ringStart: GlassCardLooks.desaturated(Theme.neonCyan, look.saturation)
    readonly property color ringMiddle: GlassCardLooks.desaturated(Theme.neonViolet, look.saturation)
    readonly property color ringEnd: GlassCardLooks.desaturated(Theme.neonPink, look.saturation)

    component CardShadow: RectangularGlow {
        glowRadius: 15
        spread: 0
        cornerRadius: 16 + glowRadius
        color: Qt.rgba(0, 0, 0, 0.35)
    }

    // The card greyed as a whole (a mastered card, a dimmed one): everything but the focus rings,
    // which draw above it at full contrast.
    Item {
        objectName: "glassCard.greyed"
        anchors.fill: parent
        opacity: card.shownOpacity

        // The lit card's shadow lies under its cyan glow, as a shadow would: outside the texture,
        // which is drawn over the glow.
        CardShadow {
            visible: card.look.glow
            anchors.fill: parent
            anchors.topMargin: 10
            anchors.bottomMargin: -10
        }
        RectangularGlow {
            objectName: "glassCard.glow"
            anchors.fill: parent
            visible: card.shownGlow > 0
            opacity: card.shownGlow
            glowRadius: 18
            spread: 0
            cornerRadius: 16 + glowRadius
            color: Qt.alpha(Theme.neonCyan, 0.55)
        }

        // The shadow and the card's glass, texts and buttons, drawn once into a texture of their
        // own and then only composited: a scroll or a change of look (opacity, scale, border, glow,
        // all outside it) draws the texture instead of the card. Rendered again only when something
        // inside changes (a text, a button's look) or the scale it is drawn at: the texture is made
        // at the card's target scale, so the lit card's text stays sharp (pixels one to one) instead
        // of being stretched from a texture made at scale 1.
        Item {
            id: textured
            objectName: "glassCard.texture"
            x: -card.shadowSide
            y: -card.shadowTop
            width: card.width + 2 * card.shadowSide
            height: card.height + card.shadowTop + card.shadowBottom
            layer.enabled: true
            // In pixels: the item's size at the target scale on this screen.
            readonly property real pixelScale: card.look.scale * Screen.devicePixelRatio
            layer.textureSize: Qt.size(Math.round(width * pixelScale), Math.round(height * pixelScale))
            // Desaturation only for a mastered card that is not lit.
            layer.effect: card.look.saturation < 1 ? desaturation : null

            Component {
                id: desaturation
                Desaturate { desaturation: 1 - card.look.saturation }
            }

            CardShadow {
                visible: !card.look.glow
                x: card.shadowSide
                y: card.shadowTop + 10
                width: card.width
                height: card.height
            }

            Item {
                id: body
                x: card.shadowSide
                y: card.shadowTop
                width: card.width
                height: card.height

                FrostedFill {
                    id: glass
                    anchors.fill: parent
                    radius: 16
                }

                ColumnLayout {
                    id: content
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.top: parent.top
                    anchors.margins: 16
                    spacing: 0

                    RowLayout {
                        Layout.fillWidth: true
                        Layout.bottomMargin: 8
                        spacing: 6

                        Rectangle {
                            implicitWidth: tagText.implicitWidth + 18
                            implicitHeight: tagText.implicitHeight + 6
                            radius: height / 2
                            color: Qt.rgba(1, 1, 1, 0.08)
                            border.width: 1
                            border.color: Qt.rgba(1, 1, 1, 0.12)
                            Text {
                                id: tagText
                                anchors.centerIn: parent
                                text: card.tag
                                Accessible.role: Accessible.StaticText
                                Accessible.name: text
                                textFormat: Text.PlainText
                                font: Theme.smallLabel
                                color: Theme.textPrimary
                            }
                        }
                        RepeatBadgeView {
                            visible: card.hasRepeatLabel
                            n: card.repeatN
                            total: card.repeatTotal
                        }
                        Rectangle {
                            objectName: "glassCard.timeChip"
                            visible: card.timeChipText !== ""
                            implicitWidth: timeRow.implicitWidth + 14
                            implicitHeight: timeRow.implicitHeight + 6
                            radius: height / 2
                            color: Qt.alpha(Theme.neonCyan, 0.1)
                            border.width: 1
                            border.color: Qt.alpha(Theme.neonCyan, 0.25)
                            Accessible.role: Accessible.StaticText
                            Accessible.name: card.timeChipAccessibleText
                            RowLayout {
                                id: timeRow
                                anchors.centerIn: parent
                                spacing: 3
                                Icon { name: "clock"; size: 9; color: Qt.alpha(Theme.neonCyan, 0.75) }
                                Text {
                                    objectName: "glassCard.time"
                                    text: card.timeChipText
                                    textFormat: Text.PlainText
                                    font.family: Theme.monoFamily
                                    font.pixelSize: 11
                                    font.weight: Font.Medium
                                    color: Qt.alpha(Theme.neonCyan, 0.75)
                                }
                            }
                        }
                        Item { Layout.fillWidth: true }
                    }

                    Text {
                        objectName: "glassCard.headline"
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        Layout.fillWidth: true
                        Layout.bottomMargin: 6
                        text: "\"" + card.en + "\""
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font: Theme.cardHeadline
                        color: "white"
                    }

                    ColumnLayout {
                        Layout.fillWidth: true
                        Layout.bottomMargin: 6
                        spacing: 8
                        GlassCardSection { icon: "character.book.closed"; label: "释义"; content: card.cn }
                        GlassCardSection { icon: "text.book.closed"; label: "用法"; content: card.note; monospaced: true }
                        GlassCardSection {
                            objectName: "glassCard.pronunciation"
                            visible: card.pronunciationText !== null && card.pronunciationText !== undefined
                            icon: "waveform"; label: "发音"; content: visible ? card.pronunciationText : ""
                            monospaced: true; tint: Qt.alpha(Theme.neonViolet, 0.85)
                        }
                        GlassCardSection {
                            objectName: "glassCard.culture"
                            visible: card.culturalText !== null && card.culturalText !== undefined
                            icon: "globe"; label: "文化"; content: visible ? card.culturalText : ""
                        }
                    }

                    Text {
                        id: exampleText
                        Layout.fillWidth: true
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                        Layout.bottomMargin: 12
                        leftPadding: 8
                        text: "e.g. " + card.example
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font.family: Theme.monoFamily
                        font.pixelSize: 13
                        font.italic: true
                        color: Qt.alpha(Theme.neonCyan, 0.85)
                        Rectangle {
                            width: 2
                            height: parent.height
                            color: Qt.alpha(Theme.neonCyan, 0.35)
                        }
                    }

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 8

                        GlassCardCapsuleButton {
                            objectName: "glassCard.share"
                            visible: card.hasShare
                            iconName: "square.and.arrow.up"
                            iconColor: Theme.neonCyan
                            fill: Qt.alpha(Theme.neonCyan, 0.1)
                            stroke: Qt.alpha(Theme.neonCyan, 0.4)
                            help: "分享歌词卡片"
                            onClicked: card.shareRequested()
                        }
                        GlassCardCapsuleButton {
                            objectName: "glassCard.heart"
                            visible: card.hasFavoriteAction && card.isFavorite !== null && card.isFavorite !== undefined
                            readonly property bool on: card.isFavorite === true
                            iconOn: on
                            iconName: "heart"
                            iconNameOn: "heart.fill"
                            iconColor: Qt.rgba(1, 1, 1, 0.5)
                            iconColorOn: Theme.neonPink
                            fill: on ? Qt.alpha(Theme.neonPink, 0.12) : Qt.rgba(1, 1, 1, 0.04)
                            stroke: on ? Qt.alpha(Theme.neonPink, 0.45) : Qt.rgba(1, 1, 1, 0.18)
                            help: on ? "取消收藏例句" : "收藏例句"
                            onClicked: card.toggleFavoriteRequested()
                        }
                        Item { Layout.fillWidth: true }
                        CTButton {
                            objectName: "glassCard.mastered"
                            primary: card.learned
                            tone: CT.NeonCyan
                            reduceMotion: card.reduceMotion
                            lookDuration: 200
                            iconName: card.learned ? "checkmark.circle.fill" : "plus.circle"
                            text: card.learned ? "已掌握" : "标记掌握"
                            font.pixelSize: 12
                            font.weight: Font.DemiBold
                            ToolTip.visible: hovered
                            ToolTip.text: card.learned ? "点击取消标记" : "标记为已掌握"
                            onClicked: card.toggleRequested()
                        }
                    }
                }

                // The glass highlight over the top half, fading out by the middle; takes no hits. Only
                // as tall as the fade: the lower half would be transparent pixels, each still blended
                // (its rounded lower corners lie where the fade is transparent).
                Rectangle {
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.top: parent.top
                    height: parent.height / 2
                    radius: 16
                    enabled: false
                    gradient: Gradient {
                        GradientStop { position: 0; color: Qt.rgba(1, 1, 1, 0.06) }
                        GradientStop { position: 1; color: "transparent" }
                    }
                }
            }
        }

        // The diagonal cyan → violet → pink border inside the edge, over the texture: its width and
        // opacity follow the look. A mesh with vertex colours: no texture of its own.
        GradientRing {
            objectName: "glassCard.ring"
            anchors.fill: parent
            radius: 16
            borderWidth: card.shownBorderWidth
            opacity: card.shownBorderOpacity
            startColor: card.ringStart
            middleColor: card.ringMiddle
            endColor: card.ringEnd
        }
    }

    // Where the rings of the card's buttons draw (FocusRing looks for it).
    readonly property Item focusRingHost: ringHost
    Item {
        id: ringHost
        anchors.fill: parent
        z: 1
    }
}
