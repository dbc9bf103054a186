#pragma once

#include "core/LearnedCardVM.h"
#include "core/Lyrics.h"
#include "core/SongStory.h"
#include "platform/Cancellation.h"
#include "platform/Clock.h"
#include "session/CantorellaError.h"
#include "session/player/DebouncedWrite.h"
#include "session/player/OffsetPreferences.h"
#include "session/player/PlayerViewModelDependencies.h"
#include "session/player/LyricLineTiming.h"
#include "session/nowplaying/NowPlayingTrack.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class CardStoreActor;
class SongRecord;

// The observable state of the player: the playing song's track, lyrics, cards, errors, loading
// flags, language and story; the playback position and lyric offsets; the active line, words and
// card. The song pipeline is the only writer of the song state; the screens read it. GUI thread
// only.
//
// Notifications: a property with an equality notifies only when a write changes its value; the
// anchor, the card-store actor and the songSessionId increment notify on every write. An
// operation that writes several properties writes them all before the first signal goes out, so
// a watcher never sees half an update.
class PlayerViewModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(quint64 songSessionId READ songSessionId NOTIFY songSessionIdChanged)
    Q_PROPERTY(bool isLoadingLyrics READ isLoadingLyrics WRITE setIsLoadingLyrics NOTIFY isLoadingLyricsChanged)
    Q_PROPERTY(bool isLoadingCards READ isLoadingCards WRITE setIsLoadingCards NOTIFY isLoadingCardsChanged)
    Q_PROPERTY(bool isStoryModalOpen READ isStoryModalOpen WRITE setIsStoryModalOpen NOTIFY isStoryModalOpenChanged)
    Q_PROPERTY(double globalOffset READ globalOffset WRITE setGlobalOffset NOTIFY globalOffsetChanged)
    Q_PROPERTY(bool nudgeEnabled READ nudgeEnabled WRITE setNudgeEnabled NOTIFY nudgeEnabledChanged)
    Q_PROPERTY(double effectiveOffset READ effectiveOffset NOTIFY effectiveOffsetChanged)

public:
    using DtClock = std::function<ContinuousInstant()>;

    // The memo of activeCardId: the song and line an answer was computed for, and the answer.
    struct ActiveCardCacheKey
    {
        QString songKey;
        qsizetype activeLineIndex = -1;
        friend bool operator==(const ActiveCardCacheKey &, const ActiveCardCacheKey &) = default;
    };
    using ActiveCardMemo = std::pair<ActiveCardCacheKey, std::optional<QString>>;

    static constexpr std::chrono::milliseconds debounceDelay{500};

    // `dtClock` gives the continuous clock's now; currentElapsed() reads it.
    explicit PlayerViewModel(DtClock dtClock, PlayerViewModelDependencies dependencies = {},
                             QObject *parent = nullptr);
    ~PlayerViewModel() override;

    // Groups writes: signals go out when the outermost Batch ends. A caller that writes several
    // properties directly (a retry clearing the lyric state) holds one around them.
    class Batch
    {
    public:
        explicit Batch(PlayerViewModel *model);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        PlayerViewModel *m_model;
    };

    // ---- song state -------------------------------------------------------------------------
    const std::optional<NowPlayingTrack> &track() const { return m_track; }
    quint64 songSessionId() const { return m_songSessionId; }
    const std::optional<LyricsResult> &lyricsResult() const { return m_lyricsResult; }
    const QList<SyncedLine> &lyricLines() const { return m_lyricLines; }
    const QList<LearnedCardVM> &cards() const { return m_cards; }
    const std::optional<CantorellaError> &errorState() const { return m_errorState; }
    const std::optional<QString> &cardsErrorDetail() const { return m_cardsErrorDetail; }
    const std::optional<QString> &lyricsErrorDetail() const { return m_lyricsErrorDetail; }
    bool isLoadingLyrics() const { return m_isLoadingLyrics; }
    bool isLoadingCards() const { return m_isLoadingCards; }
    const std::optional<LyricsSource> &currentSource() const { return m_currentSource; }
    const std::optional<QString> &currentLanguage() const { return m_currentLanguage; }
    const std::optional<QString> &notTargetLanguageState() const { return m_notTargetLanguageState; }
    const std::optional<SongStory> &currentStory() const { return m_currentStory; }
    bool isStoryModalOpen() const { return m_isStoryModalOpen; }
    const std::shared_ptr<CardStoreActor> &cardStoreActor() const { return m_cardStoreActor; }

    // Plain property writes, each under the notification rule above. `replaceCards` writes the
    // card list as it is (setCards is the pipeline's step with its side effects).
    void setTrack(const std::optional<NowPlayingTrack> &track);
    void setLyricsResult(const std::optional<LyricsResult> &result);
    void setLyricLines(const QList<SyncedLine> &lines);
    void replaceCards(const QList<LearnedCardVM> &cards);
    void setErrorState(const std::optional<CantorellaError> &error);
    void setCardsErrorDetail(const std::optional<QString> &detail);
    void setLyricsErrorDetail(const std::optional<QString> &detail);
    void setIsLoadingLyrics(bool loading);
    void setIsLoadingCards(bool loading);
    void setCurrentSource(const std::optional<LyricsSource> &source);
    void setCurrentLanguage(const std::optional<QString> &language);
    void setNotTargetLanguageState(const std::optional<QString> &language);
    void setCurrentStory(const std::optional<SongStory> &story);
    void setIsStoryModalOpen(bool open);
    // The store through which per-song offsets are saved; without one they live in memory only.
    void setCardStoreActor(std::shared_ptr<CardStoreActor> actor);

    // Playback stopped: back to idle (the anchor goes too; offsets stay).
    void resetForNoTrack();
    // Another song started: its track, loading lyrics, everything of the previous song gone.
    void resetForNewSong(const NowPlayingTrack &track);
    // Shows a song's lyrics and cards. When the same song, lines, cards and language are already
    // shown, only the track is written.
    void applySongState(const NowPlayingTrack &track, const LyricsResult &lyricsResult,
                        const QList<LearnedCardVM> &cards, const std::optional<QString> &language);
    // The same, with the cards and language of a stored song (read on the GUI thread's store).
    void applySongState(const NowPlayingTrack &track, const LyricsResult &lyricsResult, SongRecord &record);
    void beginCardsLoading();
    void setCards(const QList<LearnedCardVM> &cards);
    void setCardsError(const std::exception &error);
    void setCardsError(const std::exception_ptr &error);
    // `language`: the detected code, or "und" when none was detected.
    void setNotTargetLanguage(const QString &language);
    // Fetching the lyrics failed (transport, server, format): `lyricsResult` becomes notFound.
    void setLyricsError(const QString &detail);
    // The backend answered that it has no lyrics.
    void setLyricsNotFound(const LyricsResult &result);
    void clearLoadingFlags();

    // The error itself when it is a CantorellaError, else `unknown` with its description; the
    // cards are cleared.
    void setError(const std::exception &error);
    // Flips `learned` of the first card with this id.
    void toggleLearned(const QString &cardId);
    // The content part of applySongState, without a track.
    void applyStoredState(const QList<LearnedCardVM> &cards, const LyricsResult &lyricsResult,
                          const std::optional<QString> &language);
    // The stored song's cards (in the record's order), lyrics and language, without a track.
    void applyStoredSong(SongRecord &record);
    bool isSameSongState(const std::optional<QString> &songKey, const QList<SyncedLine> &lines,
                         const QList<LearnedCardVM> &cards, const std::optional<QString> &language) const;

    // notFound when the trimmed text is empty or yields no line; else synced with the text as given.
    static LyricsResult lyricsResultFromRaw(const QString &raw);

    qsizetype learnedCount() const;
    double learnedFraction() const;
    double trackProgress() const;
    double trackElapsed() const;

    // ---- position and offsets ---------------------------------------------------------------
    const QString &userDefaultsPrefix() const { return m_preferences.userDefaultsPrefix(); }

    const std::optional<SampleAnchor> &anchor() const { return m_anchor; }
    const QDateTime &anchorDate() const { return m_anchorDate; }
    void setAnchor(const std::optional<SampleAnchor> &anchor);

    // The playback position now, extrapolated from the anchor; without one the track's elapsed
    // (not extrapolated); with neither 0.
    double currentElapsed() const;
    // currentElapsed() + effectiveOffset(): the lyrics position.
    double displayedElapsed() const { return currentElapsed() + effectiveOffset(); }
    // The song's own offset when it has one, else the global offset (never their sum).
    double effectiveOffset() const;

    const QHash<QString, double> &perSongOffset() const { return m_perSongOffset; }
    // The user's offset for the playing song: rounded to the grid, kept, and stored after the
    // quiet period. No track, or a value that is not finite: nothing happens.
    void setEffectiveOffset(double value);
    // The playing song goes back to the global offset; the stored offset is cleared at once.
    void resetPerSongOffset();
    // The offset read from the song's record (not written back). Absent or not finite: the song
    // has none.
    void applyStoredOffset(const std::optional<double> &offset, const QString &songKey);

    double globalOffset() const { return m_preferences.globalOffset(); }
    // Kept as given (no limit, no rounding); a value that is not finite is ignored.
    void setGlobalOffset(double offset);
    bool nudgeEnabled() const { return m_preferences.nudgeEnabled(); }
    void setNudgeEnabled(bool enabled);

    // ---- active line, words and card (the rules: LyricLineTiming) ---------------------------
    std::optional<qsizetype> activeLineIndex(double t) const { return LyricLineTiming::activeLineIndex(m_lyricLines, t); }
    qsizetype revealedWordCount(qsizetype lineIndex, double t) const
    {
        return LyricLineTiming::revealedWordCount(m_lyricLines, lineIndex, t);
    }
    qsizetype revealedWordCount(const QString &text, double lineTimestamp, double t) const
    {
        return LyricLineTiming::revealedWordCount(m_lyricLines, text, lineTimestamp, t);
    }
    // The card lit for the active line at t: the latest-timed card whose line starts at most 5 s
    // before the line (or up to 1 ms after it). Memoised per song and line.
    std::optional<QString> activeCardId(double t);
    template<class Id>
    std::optional<Id> activeItemId(double t, const QList<std::pair<Id, std::optional<double>>> &items) const
    {
        return LyricLineTiming::activeItemId(m_lyricLines, t, items);
    }
    const std::optional<ActiveCardMemo> &activeCardIdCache() const { return m_activeCardIdCache; }
    static qsizetype wordCount(QStringView text) { return LyricLineTiming::wordCount(text); }

signals:
    void trackChanged();
    void songSessionIdChanged();
    void lyricsResultChanged();
    void lyricLinesChanged();
    void cardsChanged();
    void errorStateChanged();
    void cardsErrorDetailChanged();
    void lyricsErrorDetailChanged();
    void isLoadingLyricsChanged();
    void isLoadingCardsChanged();
    void currentSourceChanged();
    void currentLanguageChanged();
    void notTargetLanguageStateChanged();
    void currentStoryChanged();
    void isStoryModalOpenChanged();
    void globalOffsetChanged();
    void perSongOffsetChanged();
    void nudgeEnabledChanged();
    void anchorChanged();
    void anchorDateChanged();
    void cardStoreActorChanged();
    // Follows track, perSongOffset and globalOffset; emitted when the computed value changes.
    void effectiveOffsetChanged();

private:
    enum Field : quint32 {
        TrackField = 1u << 0,
        SongSessionIdField = 1u << 1,
        LyricsResultField = 1u << 2,
        LyricLinesField = 1u << 3,
        CardsField = 1u << 4,
        ErrorStateField = 1u << 5,
        CardsErrorDetailField = 1u << 6,
        LyricsErrorDetailField = 1u << 7,
        IsLoadingLyricsField = 1u << 8,
        IsLoadingCardsField = 1u << 9,
        CurrentSourceField = 1u << 10,
        CurrentLanguageField = 1u << 11,
        NotTargetLanguageStateField = 1u << 12,
        CurrentStoryField = 1u << 13,
        IsStoryModalOpenField = 1u << 14,
        GlobalOffsetField = 1u << 15,
        PerSongOffsetField = 1u << 16,
        NudgeEnabledField = 1u << 17,
        AnchorField = 1u << 18,
        AnchorDateField = 1u << 19,
        CardStoreActorField = 1u << 20,
    };

    template<class T>
    void write(T &field, const T &value, Field which)
    {
        if (field == value)
            return;
        field = value;
        m_changed |= which;
    }
    void touch(Field which) { m_changed |= which; }
    void beginBatch();
    void endBatch();
    void emitChanged(quint32 changed);

    void writeTrack(const std::optional<NowPlayingTrack> &track);
    void writeCards(const QList<LearnedCardVM> &cards);
    void clearActiveCardMemo() { m_activeCardIdCache.reset(); }
    // Lyrics result, lines, cards; error state and card error detail cleared.
    void applyContent(const LyricsResult &lyricsResult, const QList<LearnedCardVM> &cards);

    static QCoro::Task<void> storeSongOffset(std::shared_ptr<CardStoreActor> actor, QString key,
                                             std::optional<double> offset);

    // Song state.
    std::optional<NowPlayingTrack> m_track;
    std::optional<QString> m_trackSongKey; // the track's song key, kept with it (read every frame)
    quint64 m_songSessionId = 0;
    std::optional<LyricsResult> m_lyricsResult;
    QList<SyncedLine> m_lyricLines;
    QList<LearnedCardVM> m_cards;
    std::optional<CantorellaError> m_errorState;
    std::optional<QString> m_cardsErrorDetail;
    std::optional<QString> m_lyricsErrorDetail;
    bool m_isLoadingLyrics = false;
    bool m_isLoadingCards = false;
    std::optional<LyricsSource> m_currentSource;
    std::optional<QString> m_currentLanguage;
    std::optional<QString> m_notTargetLanguageState;
    std::optional<SongStory> m_currentStory;
    bool m_isStoryModalOpen = false;

    // Position and offsets.
    OffsetPreferences m_preferences;
    QHash<QString, double> m_perSongOffset;
    std::optional<SampleAnchor> m_anchor;
    QDateTime m_anchorDate;
    DtClock m_dtClock;

    std::optional<ActiveCardMemo> m_activeCardIdCache;
    std::shared_ptr<CardStoreActor> m_cardStoreActor;

    WallClock *m_wallClock;
    // The song's offset is stored after a quiet period; a model destroyed meanwhile still stores
    // the last value it was given.
    DebouncedWrite m_songOffsetWrite;

    int m_batchDepth = 0;
    quint32 m_changed = 0;
    double m_offsetBeforeBatch = 0.0;
};
