import QtQuick
import Cantorella.Design

// How long ago `date` was, seen from `now` (the host supplies both and styles the text).
Text {
    property date date
    property date now
    text: RelativeTime.text(date, now)
    textFormat: Text.PlainText
    Accessible.role: Accessible.StaticText
    Accessible.name: text
}
