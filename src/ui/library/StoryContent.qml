import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Library

// The sections of a song story, top to bottom; a section without content takes no space.
ColumnLayout {
    id: root

    required property StoryOverlayModel model
    signal dismissRequested()

    spacing: 12

    // 1. Titles.
    ColumnLayout {
        Layout.fillWidth: true
        spacing: 2
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            objectName: "storyOverlay.titleEN"
            Layout.fillWidth: true
            text: root.model.titleEN
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: "white"
            font.pixelSize: 18
            font.weight: Font.Bold
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            objectName: "storyOverlay.titleCN"
            Layout.fillWidth: true
            visible: root.model.titleCN !== ""
            text: root.model.titleCN
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: Theme.textSecondary
            font.pixelSize: 14
            font.weight: Font.Medium
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            objectName: "storyOverlay.artist"
            Layout.fillWidth: true
            Layout.topMargin: 2
            text: root.model.artist
            textFormat: Text.PlainText
            elide: Text.ElideRight
            color: Theme.textTertiary
            font.pixelSize: 12
            font.weight: Font.Medium
        }
    }

    // 2. Year and genre.
    RowLayout {
        objectName: "storyOverlay.chips"
        visible: root.model.hasChips
        spacing: 6
        CTChip {
            visible: root.model.yearText !== ""
            tone: CT.Surface
            text: root.model.yearText
            font.pixelSize: 10
            font.weight: Font.Medium
        }
        CTChip {
            visible: root.model.genre !== ""
            tone: CT.Surface
            text: root.model.genre
            font.pixelSize: 10
            font.weight: Font.Medium
        }
    }

    // 3. Mood tags (the model keeps the first five), on one row.
    Row {
        objectName: "storyOverlay.moods"
        visible: root.model.moodTags.length > 0
        spacing: 6
        Repeater {
            model: root.model.moodTags
            CTChip {
                required property string modelData
                tone: CT.NeonCyan
                text: "#" + modelData
                font.pixelSize: 10
                font.weight: Font.Medium
            }
        }
    }

    // 4. Quote, with a bar at its leading edge.
    Item {
        objectName: "storyOverlay.quote"
        Layout.fillWidth: true
        visible: root.model.quote !== ""
        implicitHeight: quoteText.implicitHeight
        Rectangle {
            width: 2
            height: parent.height
            color: Qt.alpha(Theme.neonCyan, 0.35)
        }
        Text {
            Accessible.role: Accessible.StaticText
            Accessible.name: text
            id: quoteText
            x: 8
            width: parent.width - 8
            text: "\u201C" + root.model.quote + "\u201D"
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            color: Qt.alpha(Theme.neonCyan, 0.9)
            font.pixelSize: 13
            font.weight: Font.Medium
            font.italic: true
            lineHeightMode: Text.FixedHeight
            lineHeight: quoteMetrics.lineSpacing + 3
            FontMetrics { id: quoteMetrics; font: quoteText.font }
        }
    }

    // 5. English paragraphs.
    ColumnLayout {
        objectName: "storyOverlay.english"
        Layout.fillWidth: true
        visible: root.model.paragraphsEN.length > 0
        spacing: 10
        Repeater {
            model: root.model.paragraphsEN
            Text {
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                id: en
                required property string modelData
                Layout.fillWidth: true
                text: modelData
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                color: "white"
                font.pixelSize: 13
                lineHeightMode: Text.FixedHeight
                lineHeight: enMetrics.lineSpacing + 4
                FontMetrics { id: enMetrics; font: en.font }
            }
        }
    }

    // 6. Divider between the two languages.
    Rectangle {
        objectName: "storyOverlay.divider"
        Layout.fillWidth: true
        Layout.topMargin: 2
        Layout.bottomMargin: 2
        visible: root.model.hasDivider
        height: 1
        color: Qt.alpha("white", 0.12)
    }

    // 7. Chinese paragraphs.
    ColumnLayout {
        objectName: "storyOverlay.chinese"
        Layout.fillWidth: true
        visible: root.model.paragraphsCN.length > 0
        spacing: 8
        Repeater {
            model: root.model.paragraphsCN
            Text {
                Accessible.role: Accessible.StaticText
                Accessible.name: text
                id: cn
                required property string modelData
                Layout.fillWidth: true
                text: modelData
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                color: Theme.textSecondary
                font.pixelSize: 12
                lineHeightMode: Text.FixedHeight
                lineHeight: cnMetrics.lineSpacing + 3
                FontMetrics { id: cnMetrics; font: cn.font }
            }
        }
    }

    // 8. Dismiss.
    CTButton {
        objectName: "storyOverlay.dismiss"
        Layout.fillWidth: true
        Layout.topMargin: 4
        tone: CT.Surface
        text: "Got it  /  知道了"
        iconName: "checkmark.circle.fill"
        iconSize: 13
        font.pixelSize: 13
        font.weight: Font.Medium
        Accessible.name: "关闭歌曲故事 / Dismiss song story"
        ToolTip.visible: hovered
        ToolTip.text: "关闭歌曲故事 / Dismiss song story"
        onClicked: root.dismissRequested()
    }
}
