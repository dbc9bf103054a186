#pragma once

#include "CardSlotRowsModel.h"
#include "NowViewRules.h"
#include "UserScrollGuard.h"
#include "core/store/CardStore.h"
#include "core/store/SongRecord.h"
#include "platform/Cancellation.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"

#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QSet>
#include <QVariant>

#include <QtQml/qqmlregistration.h>

#include <optional>

// The state of the Now tab: which song's cards it lists and in which order, which slot is lit,
// which rows are dimmed or approaching, the panel state, the newly-mastered count of the
// end-of-song wrap-up, and when the list scrolls itself. Made inside the Now view, so a rebuilt
// tab starts fresh.
//
// Watched changes (view model, lighting mode, the shown record and its cards, the store's merged
// external changes) only schedule one queued sync; the sync compares last-seen values and runs
// the handlers on the final values of the whole update, never for the first value. A playback
// task samples the position every 0.2 s on the injected clock and publishes only when the lyric
// line (or the wrap-up's visibility) changes. GUI thread only.
class NowViewController : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    QML_ELEMENT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(PlayerViewModel *vm READ vm WRITE setVm NOTIFY inputsChanged)
    Q_PROPERTY(CardStore *cardStore READ cardStore WRITE setCardStore NOTIFY inputsChanged)
    Q_PROPERTY(CardLightingCoordinator *cardLighting READ cardLighting WRITE setCardLighting NOTIFY inputsChanged)
    Q_PROPERTY(ClockHandle *clocks READ clocks WRITE setClocks NOTIFY inputsChanged)
    Q_PROPERTY(SongRecord *lockedSong READ lockedSong WRITE setLockedSong NOTIFY inputsChanged)
    Q_PROPERTY(bool reduceMotion MEMBER m_reduceMotion NOTIFY inputsChanged)

    Q_PROPERTY(CardSlotRowsModel *rows READ rows CONSTANT)
    Q_PROPERTY(bool hasTrack READ hasTrack NOTIFY changed)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY changed)
    Q_PROPERTY(int listContent READ listContent NOTIFY changed)
    Q_PROPERTY(SongRecord *displayedRecord READ displayedRecord NOTIFY changed)
    Q_PROPERTY(QString masteredText READ masteredText NOTIFY changed)
    Q_PROPERTY(double masteredFraction READ masteredFraction NOTIFY changed)
    Q_PROPERTY(QString notTargetLanguage READ notTargetLanguage NOTIFY changed)
    Q_PROPERTY(QString cardsErrorText READ cardsErrorText NOTIFY changed)
    Q_PROPERTY(QString activeSlotId READ activeSlotIdText NOTIFY changed)
    Q_PROPERTY(bool isTrackingCards READ isTrackingCards NOTIFY changed)
    Q_PROPERTY(bool showBackToCurrent READ showBackToCurrent NOTIFY changed)
    Q_PROPERTY(bool showWrapUp READ showWrapUp NOTIFY changed)
    Q_PROPERTY(int newlyMasteredCount READ newlyMasteredCount NOTIFY changed)
    Q_PROPERTY(QString wrapUpHeadline READ wrapUpHeadline NOTIFY changed)
    Q_PROPERTY(double bottomSpacerHeight READ bottomSpacerHeight NOTIFY changed)
    Q_PROPERTY(double elapsedSnapshot READ elapsedSnapshot NOTIFY changed)

public:
    // What the card area shows, the first that applies.
    enum ListContent { NotTargetLanguage, Cards, CardsError, Loading, Empty };
    Q_ENUM(ListContent)

    static constexpr double tickSeconds = 0.2;
    static constexpr double restartFromAtLeast = 3.0;
    static constexpr double restartToBelow = 1.0;

    explicit NowViewController(QObject *parent = nullptr);
    ~NowViewController() override;

    void classBegin() override {}
    void componentComplete() override;

    PlayerViewModel *vm() const { return m_vm; }
    void setVm(PlayerViewModel *vm);
    CardStore *cardStore() const { return m_cardStore; }
    void setCardStore(CardStore *store);
    CardLightingCoordinator *cardLighting() const { return m_cardLighting; }
    void setCardLighting(CardLightingCoordinator *lighting);
    ClockHandle *clocks() const { return m_clocks; }
    void setClocks(ClockHandle *clocks);
    SongRecord *lockedSong() const { return m_lockedSong; }
    void setLockedSong(SongRecord *song);

    CardSlotRowsModel *rows() { return &m_rows; }
    bool hasTrack() const { return m_vm && m_vm->track(); }
    bool isPlaying() const { return m_vm && m_vm->track() && m_vm->track()->isPlaying; }
    int listContent() const;
    SongRecord *displayedRecord() const;
    QString masteredText() const;
    double masteredFraction() const;
    QString notTargetLanguage() const;
    // The cards error state's detail line: the failure's own text (even an empty one), else a
    // fixed fallback.
    static QString cardsErrorText(const std::optional<QString> &detail);
    QString cardsErrorText() const;
    const std::optional<QString> &activeSlotId() const { return m_activeSlotId; }
    QString activeSlotIdText() const { return m_activeSlotId.value_or(QString()); }
    bool isTrackingCards() const { return m_guard.isTracking(); }
    bool showBackToCurrent() const { return !m_guard.isTracking() && !m_rows.rows().isEmpty() && !m_lockedSong; }
    bool showWrapUp() const;
    int newlyMasteredCount() const { return int(m_newlyMasteredIds.size()); }
    QString wrapUpHeadline() const;
    double bottomSpacerHeight() const { return std::max(0.0, m_viewportHeight * 0.5); }
    double elapsedSnapshot() const { return m_cardElapsedSnapshot; }
    const std::optional<qsizetype> &currentCardActiveLineIndex() const { return m_currentCardActiveLineIndex; }
    const CardRuntimeState &runtimeState() const { return m_runtime; }
    // The shown record's cards in list order.
    const QList<LearnedCard *> &sortedCards() const { return m_sortedCards; }

    // The slot lit at a position (seconds): none while a song is locked or the shown record is
    // not the playing one; a manually lit card's slot first; else the last slot reached.
    std::optional<QString> computeActiveSlotId(double elapsed) const;
    // Samples the position; publishes when forced, when the lyric line changed, or when the
    // wrap-up would appear or go.
    void refreshCardPlaybackSnapshot(bool force);
    // Runs the pending sync now (tests; the queued call does the same).
    void syncNow() { sync(); }

    // From the view.
    Q_INVOKABLE void setViewportHeight(double height);
    // The list's content offset (points); tells the user's scrolls from the view's own.
    Q_INVOKABLE void handleCardOffsetChange(double offset);
    // The user presses or drags on the list: a manually lit card keeps its light.
    Q_INVOKABLE void userHandledList();
    // Whether the keyboard focus is on a control inside the list: while it is, the list holds
    // still as after the user's own scroll, and its return to the lit card waits until 3 s after
    // the focus has left.
    Q_INVOKABLE void setKeyboardFocusInside(bool inside);
    Q_INVOKABLE void returnToCurrentCard();
    // The list's content height changed. Rows that settle their height right after a scroll was
    // asked for (a list shown mid-song) move its target: while the scroll still counts as the
    // list's own, the last one is asked for again, at once and unanimated.
    Q_INVOKABLE void handleContentHeightChange();
    // The content offset that brings a row (its y and height in the content) to the viewport's
    // centre or top, within the scrollable range.
    Q_INVOKABLE double scrollTarget(double rowY, double rowHeight, double viewportHeight, double contentHeight,
                                    bool alignTop) const;
    // The wrap-up's heart; a failure is dropped (the heart shows what the record holds).
    Q_INVOKABLE void toggleSongFavorite();

signals:
    void inputsChanged();
    void changed();
    // Scroll the slot's row to the viewport's centre (or its top), animated over `seconds`
    // unless `animated` is false.
    void scrollToSlotRequested(const QString &slotId, bool alignTop, double seconds, bool animated);

private:
    void scheduleSync();
    void sync();
    // Announces new values (and traces the redraw they cause).
    void redraw();
    void rewatch();
    void refreshCurrentRecord();
    void resetNewlyMastered(const std::optional<QString> &key);
    void countNewlyMastered();
    void rebuildCaches();
    void publishRows();
    void setActiveSlotId(const std::optional<QString> &id);
    void onActiveSlotChanged(const std::optional<QString> &previous);
    void onTrackingChanged(bool tracking);
    void onFirstSlotChanged();
    void handleSongRestart(const std::optional<QString> &songKey, quint64 sessionId, double elapsed);
    void programmaticScroll(const QString &slotId, const QString &reason, bool alignTop, double seconds,
                            const QString &operation, const QString &resetTrace);
    bool wrapUpDueAt(double elapsed) const;
    std::optional<QString> trackSongKey() const;
    bool isListShown() const { return m_viewportHeight > 0; }
    ContinuousClock *clock() const;
    void startPlaybackTask();
    void followLineOnTicks();

    static QCoro::Task<void> playbackLoop(QPointer<NowViewController> self, ContinuousClock *clock,
                                          CancellationToken token);

    // Inputs.
    QPointer<PlayerViewModel> m_vm;
    QPointer<CardStore> m_cardStore;
    QPointer<CardLightingCoordinator> m_cardLighting;
    QPointer<ClockHandle> m_clocks;
    QPointer<SongRecord> m_lockedSong;
    bool m_reduceMotion = false;
    QList<QMetaObject::Connection> m_inputConnections;
    QList<QMetaObject::Connection> m_recordConnections;

    // View state.
    QPointer<SongRecord> m_currentPlayingRecord;
    // Tracking, the programmatic flag, the guard time and the 3 s resume.
    UserScrollGuard m_guard;
    // The last scroll asked of the view: its slot (empty before the first) and anchor.
    QString m_lastScrollSlot;
    bool m_lastScrollAlignTop = false;
    double m_viewportHeight = 0;
    std::optional<QString> m_lastActiveSlotId;
    std::optional<QString> m_activeSlotId;
    double m_cardElapsedSnapshot = 0;
    std::optional<qsizetype> m_currentCardActiveLineIndex;
    std::optional<QString> m_newlyMasteredKey;
    QSet<PersistentIdentifier> m_newlyMasteredIds;
    QHash<PersistentIdentifier, bool> m_lastMasteredStateById;
    CardRuntimeState m_runtime;

    // The caches: the sorted cards under their hash, the slots under their key.
    std::optional<size_t> m_sortedCardsHash;
    QList<LearnedCard *> m_sortedCards;
    std::optional<SlotCacheKey> m_slotKey;
    QList<CardSlot> m_slots;
    CardSlotRowsModel m_rows;

    // What the sync saw last; the handlers run on a difference.
    struct Seen
    {
        std::optional<QString> trackSongKey;
        qsizetype cardsCount = 0;
        std::optional<CantorellaError> errorState;
        size_t masteredSignature = 0;
        LightingMode mode = LightingMode::automatic();
        quint64 songSessionId = 0;
        size_t cardsHash = 0;
        SlotCacheKey slotKey;
        std::optional<QString> firstSlotId;
        QPointer<SongRecord> lockedSong;
    };
    std::optional<Seen> m_seen;
    bool m_syncPending = false;
    bool m_completed = false;
    QMetaObject::Connection m_lineTickConnection;
    std::optional<CancellationToken> m_playbackTask;
};
