import QtQuick
import Cantorella.Session
import Cantorella.Player

// One slot of the Now list: the extended glass card without song line or mastered time.
ExtendedGlassCardView {
    showSongLabel: false
    showMasteredAt: false
    hasSongLabelAction: false
}
