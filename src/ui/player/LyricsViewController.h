#pragma once

#include "LyricLinesModel.h"
#include "UserScrollGuard.h"

#include "platform/Cancellation.h"
#include "session/ToastCenter.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"

#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>

#include <QtQml/qqmlregistration.h>

#include <optional>

class FrameClock;

// The logic of the lyrics list: which line plays (sampled every 0.1 s on the continuous clock),
// the rows' states and opacities, the lit words of the playing line (at most 30 times a second,
// only while a line is active and the song plays), following the playing line ("tracking") and
// telling the list's own scrolls from the user's. Made inside its view, so a rebuilt view
// starts again: tracking, no active line, no scroll yet.
//
// The view performs the scrolls it is asked for (scrollRequested) and reports its viewport
// height and content offset.
class LyricsViewController : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    QML_ELEMENT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(PlayerViewModel *vm READ vm WRITE setVm NOTIFY vmChanged)
    Q_PROPERTY(CardLightingCoordinator *cardLighting READ cardLighting WRITE setCardLighting NOTIFY cardLightingChanged)
    Q_PROPERTY(ToastCenter *toastCenter READ toastCenter WRITE setToastCenter NOTIFY toastCenterChanged)
    Q_PROPERTY(ClockHandle *clocks READ clocks WRITE setClocks NOTIFY clocksChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion WRITE setReduceMotion NOTIFY reduceMotionChanged)
    Q_PROPERTY(LyricLinesModel *model READ model CONSTANT)
    Q_PROPERTY(int activeLineIndex READ activeLineIndexOrMinusOne NOTIFY activeLineIndexChanged)
    Q_PROPERTY(int activeLitPieces READ activeLitPieces NOTIFY activeLitPiecesChanged)
    Q_PROPERTY(bool isTracking READ isTracking NOTIFY isTrackingChanged)
    Q_PROPERTY(double viewportHeight READ viewportHeight NOTIFY viewportHeightChanged)
    Q_PROPERTY(double topSpacerHeight READ topSpacerHeight NOTIFY viewportHeightChanged)
    Q_PROPERTY(double bottomSpacerHeight READ bottomSpacerHeight NOTIFY viewportHeightChanged)

public:
    static constexpr std::chrono::milliseconds tickInterval{100};
    static constexpr qsizetype seekJumpLines = 5;

    explicit LyricsViewController(QObject *parent = nullptr);
    ~LyricsViewController() override;

    PlayerViewModel *vm() const { return m_vm; }
    void setVm(PlayerViewModel *vm);
    CardLightingCoordinator *cardLighting() const { return m_cardLighting; }
    void setCardLighting(CardLightingCoordinator *lighting);
    ToastCenter *toastCenter() const { return m_toastCenter; }
    void setToastCenter(ToastCenter *center);
    ClockHandle *clocks() const { return m_clocks; }
    void setClocks(ClockHandle *clocks);
    bool reduceMotion() const { return m_reduceMotion; }
    void setReduceMotion(bool reduceMotion);

    LyricLinesModel *model() const { return m_model; }
    std::optional<qsizetype> activeLineIndex() const { return m_activeLineIndex; }
    int activeLineIndexOrMinusOne() const { return m_activeLineIndex ? int(*m_activeLineIndex) : -1; }
    int activeLitPieces() const { return int(m_activeLitPieces); }
    bool isTracking() const { return m_guard.isTracking(); }
    double viewportHeight() const { return m_viewportHeight; }
    double topSpacerHeight() const;
    double bottomSpacerHeight() const;
    double lineEffectElapsed() const { return m_lineEffectElapsed; }
    const UserScrollGuard &scrollGuard() const { return m_guard; }

    // The view's measured viewport height; the first height above 0 counts as the appear.
    Q_INVOKABLE void setViewportHeight(double height);
    // The content's new offset (contentY); a user scroll stops tracking.
    Q_INVOKABLE void handleOffsetChange(double offset);
    // "回到当前".
    Q_INVOKABLE void returnToCurrent();
    // A click on a row: the playing line's text goes to the clipboard, with a toast.
    Q_INVOKABLE void copyLine(int index);
    // Where contentY goes to centre a row.
    Q_INVOKABLE double scrollTarget(double rowY, double rowHeight, double viewportHeight, double contentHeight) const;

    // One sample of the position (the 0.1 s tick).
    void refreshActiveLineSnapshot(bool force);

    void classBegin() override {}
    void componentComplete() override;

signals:
    void vmChanged();
    void cardLightingChanged();
    void toastCenterChanged();
    void clocksChanged();
    void reduceMotionChanged();
    void activeLineIndexChanged();
    void activeLitPiecesChanged();
    void isTrackingChanged();
    void viewportHeightChanged();
    // Bring row `index` to the viewport's centre: animated over 0.4 s, or at once.
    void scrollRequested(int index, bool animated);

private:
    ContinuousClock *clock() const;
    double position() const;
    bool gateOpen() const;
    void traceBody();
    void restartActiveLineTask();
    static QCoro::Task<void> activeLineTask(QPointer<LyricsViewController> self, ContinuousClock *clock,
                                            CancellationToken token);
    void onActiveLineIndexChanged(std::optional<qsizetype> old);
    void onTrackingChanged(bool tracking);
    void onSongSessionChanged();
    void onLinesChanged();
    void onViewportHeightChanged(double old);
    void onReaderShown();
    void programmaticScroll(qsizetype target);
    void updateLitWords();
    void updateFrameClockHold();
    void followLineOnTicks();

    QPointer<PlayerViewModel> m_vm;
    QPointer<CardLightingCoordinator> m_cardLighting;
    QPointer<ToastCenter> m_toastCenter;
    QPointer<ClockHandle> m_clocks;
    QPointer<FrameClock> m_frameClock;
    QMetaObject::Connection m_frameConnection;
    QMetaObject::Connection m_lineTickConnection;
    bool m_reduceMotion = false;
    bool m_completed = false;

    LyricLinesModel *m_model;
    UserScrollGuard m_guard;
    std::optional<CancellationToken> m_activeLineTask;
    std::optional<qsizetype> m_activeLineIndex;
    qsizetype m_activeLitPieces = 0;
    double m_lineEffectElapsed = 0.0;
    std::optional<qsizetype> m_lastScrolledIdx;
    double m_viewportHeight = 0.0;
    bool m_appeared = false;
    quint64 m_songSessionId = 0;
};
