import QtQuick
import QtQuick.Layouts
import Cantorella.Design

// The column of pieces: buttons, chips, badges, bars, relative times, symbols, palettes.
ColumnLayout {
    id: column

    property real elapsed: 0
    property bool reduceMotion: false
    readonly property date referenceNow: new Date(2024, 2, 15, 8, 0, 0)

    spacing: 10

    component Section: FrostedFill {
        id: section
        property string title
        default property alias body: content.data
        Layout.fillWidth: true
        implicitHeight: content.implicitHeight + 36
        radius: 14
        border.width: 1
        border.color: Theme.strokeSubtle
        Text {
            x: 12; y: 8
            text: section.title
            color: Theme.textTertiary
            font: Theme.smallLabel
        }
        ColumnLayout {
            id: content
            x: 12; y: 28
            width: section.width - 24
            spacing: 8
        }
    }

    component Caption: Text {
        color: Theme.textTertiary
        font.pixelSize: 10
    }

    Section {
        title: "按钮 CTButton · 主要 / 次要 / 按下"
        Repeater {
            model: [false, true]
            RowLayout {
                id: buttonRow
                required property bool modelData
                spacing: 8
                CTButton { text: "分享…"; iconName: "sparkles"; primary: true; tone: CT.NeonCyan; down: buttonRow.modelData ? true : undefined; reduceMotion: column.reduceMotion; font.pixelSize: 12; font.weight: Font.Medium }
                CTButton { text: "收藏"; iconName: "heart.fill"; primary: true; tone: CT.NeonPink; down: buttonRow.modelData ? true : undefined; reduceMotion: column.reduceMotion; font.pixelSize: 12; font.weight: Font.Medium }
                CTButton { text: "退出登录"; primary: true; tone: CT.Surface; down: buttonRow.modelData ? true : undefined; reduceMotion: column.reduceMotion; font.pixelSize: 12 }
                Caption { text: buttonRow.modelData ? "按下" : "" }
            }
        }
        Repeater {
            model: [false, true]
            RowLayout {
                id: secondaryRow
                required property bool modelData
                spacing: 8
                CTButton { text: "回到当前"; iconName: "arrow.down.to.line"; iconSize: 11; tone: CT.NeonCyan; down: secondaryRow.modelData ? true : undefined; reduceMotion: column.reduceMotion; font.pixelSize: 12; font.weight: Font.Medium }
                CTButton { text: "收藏这首歌"; iconName: "heart"; tone: CT.NeonPink; down: secondaryRow.modelData ? true : undefined; reduceMotion: column.reduceMotion; font.pixelSize: 12 }
                CTButton { text: "重试"; iconName: "arrow.clockwise"; tone: CT.Surface; down: secondaryRow.modelData ? true : undefined; reduceMotion: column.reduceMotion; font.pixelSize: 12; font.weight: Font.Medium }
            }
        }
    }

    Section {
        title: "标签 CTChip"
        RowLayout {
            spacing: 8
            CTChip { tone: CT.NeonCyan; text: "#nostalgic" }
            CTChip { tone: CT.NeonPink; text: "#深夜" }
            CTChip { tone: CT.Surface; text: "1985"; font.pixelSize: 10; font.weight: Font.Medium }
            CTChip {
                tone: CT.NeonCyan
                Rectangle { width: 5; height: 5; radius: 2.5; color: Theme.neonCyan }
                Text { text: "NOW PLAYING"; color: "white"; font: Theme.smallLabel }
            }
        }
    }

    Section {
        title: "徽章 语言 / 来源 / 重复"
        RowLayout {
            spacing: 6
            LanguageBadgeView { language: "en" }
            LanguageBadgeView { language: "EN" }
            LanguageBadgeView { language: "" }
            LanguageBadgeView { language: null }
            SourceBadgeView { source: "lrclib" }
            SourceBadgeView { source: "netease" }
            SourceBadgeView { source: "cache" }
            SourceBadgeView { source: "manualImport" }
            SourceBadgeView { source: undefined }
        }
        RowLayout {
            spacing: 6
            RepeatBadgeView { n: 2; total: 3 }
            RepeatBadgeView { n: 4; total: 3 }
            Caption { text: "语言 null 与来源 undefined 不占位" }
        }
    }

    Section {
        title: "进度 ReadOnlyProgressBar / LearnedProgressBar"
        ReadOnlyProgressBar { Layout.fillWidth: true; elapsed: column.elapsed; duration: 14 }
        ReadOnlyProgressBar { Layout.fillWidth: true; elapsed: 5; duration: 0 }
        LearnedProgressBar { Layout.fillWidth: true; fraction: 0.25 }
        LearnedProgressBar { Layout.fillWidth: true; fraction: 0.5 }
        LearnedProgressBar { Layout.fillWidth: true; fraction: 1.7 }
    }

    Section {
        title: "相对时间 RelativeTimeLabel（现在 = 3月15日 08:00）"
        Flow {
            Layout.fillWidth: true
            spacing: 12
            Repeater {
                model: [30, 20 * 60, 3 * 3600, 10 * 3600, 40 * 86400, 400 * 86400]
                RelativeTimeLabel {
                    required property int modelData
                    now: column.referenceNow
                    date: new Date(column.referenceNow.getTime() - modelData * 1000)
                    color: Theme.textSecondary
                    font.pixelSize: 12
                }
            }
        }
    }

    Section {
        title: "符号 Icon · 调色板 · 模态尺寸"
        RowLayout {
            spacing: 12
            Repeater {
                model: ["heart", "heart.fill", "xmark", "checkmark", "arrow.down.to.line", "arrow.clockwise", "globe", "sparkles", "music.note"]
                Icon { required property string modelData; name: modelData; size: 18; color: Theme.textPrimary }
            }
        }
        RowLayout {
            spacing: 4
            Repeater {
                model: [Theme.neonCyan, Theme.neonPink, Theme.neonViolet, Theme.neonBlue, Theme.accentGold, Theme.systemGreen]
                Rectangle { required property color modelData; width: 22; height: 22; radius: 11; color: modelData }
            }
            Item { width: 10; height: 1 }
            Repeater {
                model: 15
                Rectangle {
                    required property int index
                    width: 14; height: 22; radius: 3
                    color: MeshGradientPalette.color(index, 0.7, 0.5)
                }
            }
        }
        Caption {
            readonly property size modal: ModalSizing.sizeIn(800, 950)
            text: "ModalSizing 800 × 950 → " + modal.width + " × " + modal.height + " · 时间码 01:23 / 03:45"
            font: Theme.timecode
        }
    }

    Item { Layout.fillHeight: true }
}
