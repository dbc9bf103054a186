#pragma once

#include "platform/Cancellation.h"
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"

#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QVariant>

#include <QtQml/qqmlregistration.h>

class FrameClock;

// What the compact lyrics panel shows, decided from the player view model: idle or playing,
// the banner, the header texts, the time labels (sampled at most every 0.5 s while the song
// plays), which lyrics state fills the lyrics area, and the art tile's breathing (on the frame
// clock, only while the panel's animation gate is open).
class CompactLyricsPanelController : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    QML_ELEMENT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(PlayerViewModel *vm READ vm WRITE setVm NOTIFY vmChanged)
    Q_PROPERTY(ClockHandle *clocks READ clocks WRITE setClocks NOTIFY clocksChanged)
    Q_PROPERTY(double width READ width WRITE setWidth NOTIFY widthChanged)
    Q_PROPERTY(bool breathing READ breathing WRITE setBreathing NOTIFY breathingChanged)
    Q_PROPERTY(bool isCompact READ isCompact NOTIFY widthChanged)
    Q_PROPERTY(bool hasTrack READ hasTrack NOTIFY trackChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY trackChanged)
    Q_PROPERTY(QString title READ title NOTIFY trackChanged)
    Q_PROPERTY(QString artistLine READ artistLine NOTIFY trackChanged)
    Q_PROPERTY(double duration READ duration NOTIFY trackChanged)
    Q_PROPERTY(QString durationText READ durationText NOTIFY trackChanged)
    Q_PROPERTY(double position READ position NOTIFY positionChanged)
    Q_PROPERTY(QString positionText READ positionText NOTIFY positionChanged)
    Q_PROPERTY(bool showsBanner READ showsBanner NOTIFY stateChanged)
    Q_PROPERTY(int lyricsArea READ lyricsArea NOTIFY stateChanged)
    Q_PROPERTY(QString failureTitle READ failureTitle NOTIFY stateChanged)
    Q_PROPERTY(QString failureDetail READ failureDetail NOTIFY stateChanged)
    Q_PROPERTY(bool showsRetry READ showsRetry NOTIFY stateChanged)
    Q_PROPERTY(QVariant source READ source NOTIFY stateChanged)
    Q_PROPERTY(QVariant language READ language NOTIFY stateChanged)
    Q_PROPERTY(double breathScale READ breathScale NOTIFY breathChanged)
    Q_PROPERTY(double breathShadowRadius READ breathShadowRadius NOTIFY breathChanged)

public:
    enum LyricsArea { EmptyArea, FailureArea, LinesArea, FetchingArea };
    Q_ENUM(LyricsArea)

    static constexpr double compactWidthBelow = 250.0;
    // The progress row is sampled no more often than this.
    static constexpr std::chrono::milliseconds positionInterval{500};
    // How long to wait after a sample at `position` (moving at `rate`): until just past the next
    // whole second, when the time label changes, but at least positionInterval. The label and
    // the bar then change in one frame, once a second, instead of the bar alone every 0.5 s.
    static std::chrono::nanoseconds delayAfterSample(double position, double rate);
    // While the animations are gated the window draws only when something changes, and the lit
    // words step on frame-clock ticks of their own a few times a second. The sample after a
    // whole second then waits for the next tick on which the lyrics change, for at most this
    // long: the label is that much late at worst (the row's own schedule allows half a second),
    // and the window draws one frame for both instead of two.
    static constexpr double joinLyricsWithin = 0.4;

    explicit CompactLyricsPanelController(QObject *parent = nullptr);
    ~CompactLyricsPanelController() override;

    PlayerViewModel *vm() const { return m_vm; }
    void setVm(PlayerViewModel *vm);
    ClockHandle *clocks() const { return m_clocks; }
    void setClocks(ClockHandle *clocks);
    double width() const { return m_width; }
    void setWidth(double width);
    bool breathing() const { return m_breathing; }
    void setBreathing(bool breathing);

    bool isCompact() const { return m_width < compactWidthBelow; }
    bool hasTrack() const;
    bool isPlaying() const;
    QString title() const;
    QString artistLine() const;
    double duration() const;
    QString durationText() const;
    double position() const { return m_position; }
    QString positionText() const;
    bool showsBanner() const;
    int lyricsArea() const;
    QString failureTitle() const;
    QString failureDetail() const;
    bool showsRetry() const;
    QVariant source() const;
    QVariant language() const;
    double breathScale() const { return m_breathScale; }
    double breathShadowRadius() const { return m_breathShadowRadius; }

    // Reads the position now (the timer's step).
    void samplePosition();
    // What the row would show now: the view model's displayed position (the lyrics offset alone
    // without a track, which the idle invitation breathes with).
    double displayedPosition() const;

    void classBegin() override {}
    void componentComplete() override;

signals:
    void vmChanged();
    void clocksChanged();
    void widthChanged();
    void breathingChanged();
    void trackChanged();
    void positionChanged();
    void stateChanged();
    void breathChanged();

private:
    bool isLyricsUnavailable() const;
    void traceBody();
    void restartPositionTimer();
    void updateBreath();
    static QCoro::Task<void> positionTimer(QPointer<CompactLyricsPanelController> self, ContinuousClock *clock,
                                           CancellationToken token);
    double positionRate() const;
    void followPlaybackChange();
    // The timer's step at a whole second: at the next tick, or (gated) with the lyrics' next
    // change on a tick within joinLyricsWithin.
    void sampleOnATick();
    void joinTick(double now);
    void stopJoining();
    // Another song, or playing versus paused: sample now and time the next samples from here.
    void startProgressRowOver();
    ContinuousClock *continuousClock() const;
    // A new anchor or offset that moves the position by less than this is left to the timer.
    static constexpr double jumpThreshold = 0.25;

    QPointer<PlayerViewModel> m_vm;
    QPointer<ClockHandle> m_clocks;
    QPointer<FrameClock> m_frameClock;
    QMetaObject::Connection m_frameConnection;
    double m_width = 360.0;
    bool m_breathing = false;
    bool m_completed = false;
    double m_position = 0.0;
    ContinuousInstant m_sampledAt; // when m_position was read
    QString m_shownSongKey;        // the song and playing state the progress row was last started for
    bool m_shownPlaying = false;
    double m_breathScale = 1.0;
    double m_breathShadowRadius = 10.0;
    std::optional<CancellationToken> m_positionTask;
    QMetaObject::Connection m_joinConnection;
    double m_joinDeadline = 0.0; // frame-clock seconds
};
