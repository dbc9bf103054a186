import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Library

// The share sheet: a modal, centred panel with the card's preview and three actions. It shows
// while its controller has a card; the close button and Escape close it. Toasts draw above it.
Popup {
    id: sheet

    required property ShareSheetController controller
    property bool reduceMotion: SystemMotion.reduceMotion

    objectName: "shareSheet"
    parent: Overlay.overlay
    // Ideal height 680, never below 620. The width then makes the preview's space square, so the
    // square picture fills it without empty bands (never below 460 wide, never wider than the
    // window allows).
    readonly property real previewSide: height - topPadding - bottomPadding
        - header.implicitHeight - header.Layout.bottomMargin - actions.implicitHeight - actions.Layout.topMargin
    width: Math.max(460, Math.min(previewSide + leftPadding + rightPadding, parent ? parent.width - 40 : 520))
    height: Math.max(620, Math.min(680, parent ? parent.height - 40 : 680))
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0
    modal: true
    focus: true
    z: Theme.zOverlay
    padding: 20
    closePolicy: Popup.CloseOnEscape
    visible: controller.isOpen
    // The popup's own item is the dialog a screen reader enters (a Popup's Accessible does not
    // reach it): named by the title the dialog shows.
    onAboutToShow: {
        contentItem.parent.Accessible.name = "分享歌词卡片"
        focusReturn.capture(parent ? parent.Window.window : null)
    }
    onOpened: focusReturn.enter(copyButton)
    onClosed: {
        controller.dismiss()
        focusReturn.restore()
    }

    FocusReturn { id: focusReturn }

    Overlay.modal: Rectangle { color: Qt.alpha("black", 0.4) }

    background: Rectangle {
        color: Theme.backgroundInk
        radius: 12
        border.width: 1
        border.color: Qt.alpha("white", 0.1)
    }

    contentItem: ColumnLayout {
        spacing: 0

        // Header.
        RowLayout {
            id: header
            Layout.fillWidth: true
            Layout.bottomMargin: 12
            spacing: 8
            ColumnLayout {
                spacing: 2
                Text {
                    text: "分享歌词卡片"
                    textFormat: Text.PlainText
                    color: "white"
                    font.pixelSize: 16
                    font.weight: Font.Bold
                }
                Text {
                    objectName: "shareSheet.fallbackNote"
                    visible: sheet.controller.heroIsFallback
                    text: "未匹配到原句，使用例句作为主文案"
                    textFormat: Text.PlainText
                    color: Theme.textTertiary
                    font.pixelSize: 11
                }
            }
            Item { Layout.fillWidth: true }
            AbstractButton {
                objectName: "shareSheet.close"
                Layout.alignment: Qt.AlignVCenter
                contentItem: Icon { name: "xmark.circle.fill"; size: 18; color: Theme.textTertiary }
                Accessible.name: "关闭"
                ToolTip.visible: hovered
                ToolTip.text: "关闭"
                onClicked: sheet.controller.dismiss()
                FocusRing { inset: -3 }
            }
        }

        // Preview: the exported picture, scaled into the space left.
        ShareCardPreview {
            objectName: "shareSheet.preview"
            Layout.fillWidth: true
            Layout.fillHeight: true
            image: sheet.controller.previewImage
        }

        // Actions.
        RowLayout {
            id: actions
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 4
            spacing: 10
            CTButton {
                id: copyButton
                objectName: "shareSheet.copy"
                tone: CT.NeonCyan
                text: "复制图片"
                iconName: "doc.on.doc"
                font.pixelSize: 13
                font.weight: Font.Medium
                reduceMotion: sheet.reduceMotion
                onClicked: sheet.controller.copyImage()
            }
            CTButton {
                objectName: "shareSheet.save"
                tone: CT.NeonCyan
                text: "保存为 PNG"
                iconName: "square.and.arrow.down"
                font.pixelSize: 13
                font.weight: Font.Medium
                reduceMotion: sheet.reduceMotion
                onClicked: sheet.controller.saveImage()
            }
            CTButton {
                objectName: "shareSheet.share"
                tone: CT.NeonCyan
                primary: true
                text: "分享…"
                iconName: "square.and.arrow.up"
                font.pixelSize: 13
                font.weight: Font.Medium
                reduceMotion: sheet.reduceMotion
                onClicked: sheet.controller.shareImage()
            }
        }
    }
}
