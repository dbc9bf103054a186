import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Cantorella.Design
import Cantorella.Session
import Cantorella.Player

// The Now tab's scroller: the rows, the wrap-up and the bottom spacer, or the state that applies.
// Scrolls only when the controller asks; reports its offset and height, and presses and drags
// (which keep a hand-lit card lit) without taking them from the list.
Flickable {
    id: flick
    objectName: "now.list"

    required property NowViewController controller
    required property CardStore cardStore
    required property ToastCenter toastCenter
    required property CardLightingCoordinator cardLighting
    property bool reduceMotion: SystemMotion.reduceMotion
    // Paces the cards' transitions and the list's scrolls (the shared frame clock).
    property QtObject frameClock: null

    // The list moves (an animated scroll, or the user's drag or flick): every frame then draws
    // its rows afresh, so a texture caching them would only be drawn twice.
    readonly property bool scrolling: scroll.running || flick.moving

    signal shareRequested(LearnedCard card, var slotLineTimestamp)
    signal retryCardsRequested()

    clip: true
    boundsBehavior: Flickable.StopAtBounds
    contentWidth: width
    contentHeight: column.implicitHeight
    ScrollBar.vertical: ScrollBar {}

    // The list's stops drawn outside its content (the "回到当前" chip over its bottom).
    property Item outsideStops: null
    // A control of the list with the keyboard's focus (its ring shown) holds the list still, as
    // the user's own scroll does, so the return to the lit card never scrolls it out of sight,
    // nor takes the chip away from under the focus.
    readonly property bool keyboardFocusInside: {
        const item = Window.activeFocusItem
        if (!item || (item.visualFocus !== undefined && !item.visualFocus))
            return false
        for (let p = item.parent; p; p = p.parent) {
            if (p === flick.contentItem || (flick.outsideStops !== null && p === flick.outsideStops))
                return true
        }
        return false
    }
    onKeyboardFocusInsideChanged: controller.setKeyboardFocusInside(keyboardFocusInside)

    onContentYChanged: controller.handleCardOffsetChange(contentY)
    onMovementStarted: scroll.stop()
    onHeightChanged: controller.setViewportHeight(height)
    Component.onCompleted: controller.setViewportHeight(height)

    onContentHeightChanged: controller.handleContentHeightChange()

    function scrollToSlot(slotId, alignTop, seconds, animated) {
        column.forceLayout()
        const index = controller.rows.indexOfSlot(slotId)
        const row = index >= 0 ? rows.itemAt(index) : null
        if (!row)
            return
        const rowY = row.mapToItem(flick.contentItem, 0, 0).y
        const target = controller.scrollTarget(rowY, row.height, flick.height, flick.contentHeight, alignTop)
        scroll.stop()
        flick.cancelFlick()
        if (!animated || seconds <= 0) {
            flick.contentY = target
            return
        }
        scroll.from = flick.contentY
        scroll.to = target
        scroll.start(seconds, false)
    }

    // The animated scroll, ease-in-out, on the frame clock at a scroll's pace.
    FrameTween {
        id: scroll
        property real from: 0
        property real to: 0
        frameClock: flick.frameClock
        scrollPace: true
        onProgressChanged: flick.contentY = from + (to - from) * progress
    }

    PointHandler {
        onActiveChanged: if (active) flick.controller.userHandledList()
        onPointChanged: if (active) flick.controller.userHandledList()
    }

    Column {
        id: column
        width: flick.width
        topPadding: 4
        bottomPadding: 4
        spacing: 12

        Repeater {
            id: rows
            model: flick.controller.listContent === NowViewController.Cards ? flick.controller.rows : null
            delegate: NowCardSlotRow {
                required property var model
                objectName: "now.row." + model.slotId
                x: 16
                width: column.width - 32
                card: model.card
                cardStore: flick.cardStore
                toastCenter: flick.toastCenter
                cardLighting: flick.cardLighting
                reduceMotion: flick.reduceMotion
                frameClock: flick.frameClock
                isActive: model.isActive
                isDimmed: model.isDimmed
                preflightProgress: model.preflightProgress
                hasRepeatLabel: model.hasRepeatLabel
                repeatN: model.repeatN
                repeatTotal: model.repeatTotal
                slotLineTimestamp: model.slotLineTimestamp
                hasShare: true
                onShareRequested: flick.shareRequested(model.card, model.slotLineTimestamp)
            }
        }

        EndOfSongWrapUpView {
            objectName: "now.wrapUp"
            readonly property bool shown: flick.controller.showWrapUp
            x: 16
            width: column.width - 32
            height: implicitHeight
            headline: flick.controller.wrapUpHeadline
            celebrates: flick.controller.newlyMasteredCount > 0
            song: flick.controller.displayedRecord
            reduceMotion: flick.reduceMotion
            opacity: shown ? 1 : 0
            // Under Reduce Motion only the fade.
            scale: shown || flick.reduceMotion ? 1 : 0.96
            visible: opacity > 0
            Behavior on opacity {
                NumberAnimation { duration: Motion.easeInOutMedium.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
            }
            Behavior on scale {
                NumberAnimation { duration: Motion.easeInOutMedium.duration; easing.type: Easing.BezierSpline; easing.bezierCurve: Motion.easeInOut }
            }
            onToggleFavoriteRequested: flick.controller.toggleSongFavorite()
        }

        Item {
            objectName: "now.bottomSpacer"
            visible: flick.controller.listContent === NowViewController.Cards
            width: 1
            height: flick.controller.bottomSpacerHeight
        }

        NotTargetLanguageEmptyState {
            objectName: "now.notTarget"
            visible: flick.controller.listContent === NowViewController.NotTargetLanguage
            width: column.width
            height: flick.height - 8
            language: flick.controller.notTargetLanguage
        }
        NowCardsErrorState {
            objectName: "now.error"
            visible: flick.controller.listContent === NowViewController.CardsError
            width: column.width
            height: flick.height - 8
            detail: flick.controller.cardsErrorText
            reduceMotion: flick.reduceMotion
            onRetryRequested: flick.retryCardsRequested()
        }
        NowCardsLoadingState {
            objectName: "now.loading"
            visible: flick.controller.listContent === NowViewController.Loading
            width: column.width
            height: flick.height - 8
        }
        NowEmptyState {
            objectName: "now.empty"
            visible: flick.controller.listContent === NowViewController.Empty
            width: column.width
            height: flick.height - 8
        }
    }
}
