import QtQuick
import Cantorella.Design

// Leads from a song picked in the library back to the playing one.
CTButton {
    tone: CT.NeonCyan
    iconName: "music.note"
    iconSize: 11
    text: "返回当前播放歌曲"
    font.pixelSize: 12
    font.weight: Font.Medium
    spacing: 6
}
