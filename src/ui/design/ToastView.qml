import QtQuick
import Cantorella.Design
import QtQuick.Templates as T

// The current toast as a small frosted capsule 24 px above the bottom of the area the host
// gives this item (fill the window with it). Inputs are plain values: `toastId` empty means no
// toast; a new id shows its text with a fresh entry (a rise of 8 px and a fade; a fade only with
// Reduce Motion). The capsule lives in the window's overlay layer above modal overlays.
Item {
    id: root

    property string text: ""
    property string toastId: ""
    property bool reduceMotion: SystemMotion.reduceMotion

    readonly property real bottomMargin: 24

    property string _shownText: ""
    property bool _ready: false

    function _present(animated) {
        root._shownText = root.text
        hideAnim.stop()
        showAnim.stop()
        if (!animated) {
            capsule.opacity = 1
            shift.y = 0
            return
        }
        capsule.opacity = 0
        shift.y = root.reduceMotion ? 0 : 8
        showAnim.start()
    }

    function _dismiss(animated) {
        showAnim.stop()
        hideAnim.stop()
        if (!animated) {
            capsule.opacity = 0
            return
        }
        hideAnim.start()
    }

    // Test toastId itself here: a binding on it may not be re-evaluated yet when these run.
    onToastIdChanged: {
        if (!_ready)
            return
        if (toastId !== "")
            _present(true)
        else
            _dismiss(true)
    }
    onTextChanged: if (toastId !== "") _shownText = text

    Component.onCompleted: {
        _ready = true
        if (toastId !== "")
            _present(false)
    }

    ParallelAnimation {
        id: showAnim
        NumberAnimation {
            target: capsule; property: "opacity"; to: 1
            duration: Motion.toast.duration; easing.type: Motion.toast.easingType
            easing.bezierCurve: Motion.toast.bezierCurve
        }
        NumberAnimation {
            target: shift; property: "y"; to: 0
            duration: Motion.toast.duration; easing.type: Motion.toast.easingType
            easing.bezierCurve: Motion.toast.bezierCurve
        }
    }

    ParallelAnimation {
        id: hideAnim
        NumberAnimation {
            target: capsule; property: "opacity"; to: 0
            duration: Motion.toast.duration; easing.type: Motion.toast.easingType
            easing.bezierCurve: Motion.toast.bezierCurve
        }
        NumberAnimation {
            target: shift; property: "y"; to: root.reduceMotion ? 0 : 8
            duration: Motion.toast.duration; easing.type: Motion.toast.easingType
            easing.bezierCurve: Motion.toast.bezierCurve
        }
    }

    T.Popup {
        id: popup
        objectName: "toastView.popup"
        modal: false
        focus: false
        closePolicy: T.Popup.NoAutoClose
        z: Theme.zToast
        padding: 0
        implicitWidth: contentItem.implicitWidth
        implicitHeight: contentItem.implicitHeight
        enter: null
        exit: null
        background: null
        visible: capsule.opacity > 0 && root.Window.window !== null
        x: Math.round((root.width - width) / 2)
        y: root.height - height - root.bottomMargin

        contentItem: Item {
            implicitWidth: capsule.width
            implicitHeight: capsule.height

            FrostedFill {
                id: capsule
                objectName: "toastView.capsule"
                width: label.implicitWidth + 32
                height: label.implicitHeight + 20
                radius: height / 2
                opacity: 0
                border.width: 0.5
                border.color: Qt.rgba(1, 1, 1, 0.2)
                transform: Translate { id: shift; y: 0 }
                Accessible.role: Accessible.AlertMessage
                Accessible.name: root._shownText

                Text {
                    id: label
                    objectName: "toastView.text"
                    anchors.centerIn: parent
                    text: root._shownText
                    textFormat: Text.PlainText
                    color: Theme.textPrimary
                    font.family: Theme.sansFamily
                    font.pixelSize: 14
                    font.weight: Font.Medium
                }
            }
        }
    }
}
