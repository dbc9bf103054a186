#pragma once

#include "core/Lyrics.h"
#include "core/store/Snapshots.h"
#include "platform/Cancellation.h"
#include "platform/Clock.h"
#include "session/LocalLyricsRepository.h"
#include "session/nowplaying/NowPlayingTrack.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <memory>
#include <optional>

class CardLightingCoordinator;
class CardStore;
class CardStoreActor;
class LLMProvider;
class LocalCardsRepository;
class NowPlayingMonitor;
class PlayerViewModel;
class SongStoryProvider;
class ToastCenter;
struct GoldenCard;
struct LearnedCardVM;

// The per-user driver of the player. It reads every now-playing sample, keeps the view model's
// anchor, track and card lighting in step, and for every new song runs the pipeline
// lyrics → language check → study cards → story into the view model and the store.
//
// GUI thread only. Every piece of per-song work runs as a coroutine holding the coordinator
// through a QPointer and a cancellation token of its own; after every wait it re-checks that
// it is still live (not cancelled, and its song key is still the current one) before it writes
// anything, so work for a song that is no longer shown, or that a retry, a restore or stop()
// replaced, never reaches the screen or the store.
//
// Single use: start() once, stop() once; the application builds a new coordinator for every
// sign-in.
class SessionCoordinator : public QObject
{
    Q_OBJECT
public:
    // A transport failure of the card call is tried once more after this pause.
    static constexpr std::chrono::milliseconds transportRetryDelay{600};

    // The QObject collaborators are not owned and must outlive the coordinator. A null
    // `cardLighting` or `toastCenter` is replaced by one of the coordinator's own; a null
    // `songStoryProvider` by one that always fails with "no story provider configured".
    SessionCoordinator(NowPlayingMonitor *monitor, std::shared_ptr<LocalLyricsRepository> localLyrics,
                       std::shared_ptr<LocalCardsRepository> localCards, std::shared_ptr<LLMProvider> llm,
                       CardStore *store, std::shared_ptr<CardStoreActor> cardStoreActor, PlayerViewModel *viewModel,
                       CardLightingCoordinator *cardLighting = nullptr,
                       std::shared_ptr<SongStoryProvider> songStoryProvider = nullptr,
                       ToastCenter *toastCenter = nullptr, ContinuousClock *clock = ContinuousClock::system(),
                       QObject *parent = nullptr);
    ~SessionCoordinator() override;

    // Starts the monitor and the loop over its samples. Acts once per coordinator.
    void start();
    // Ends the loop and every per-song task, clears the loading flags and stops the monitor.
    void stop();
    bool isStarted() const { return m_isStarted; }

    // One now-playing sample. Never waits: anchor, track, lighting and (for a new song) the
    // start of its pipeline happen in one go.
    void handle(const std::optional<NowPlayingTrack> &track);

    // The user's retries; each does nothing unless the screen shows the matching state.
    void retryLyrics();
    void retryCards();
    void retryStory();

    // Before a library restore: ends the song's tasks and clears the loading flags and story.
    void prepareForRestore();
    // After a restore: the playing song is handled as new, so it loads from the restored store.
    QCoro::Task<void> reloadCurrentTrack();

    const std::optional<QString> &currentKey() const { return m_currentKey; }
    CardLightingCoordinator *cardLighting() const { return m_cardLighting; }
    ToastCenter *toastCenter() const { return m_toastCenter; }

    // Stable: timed cards in ascending time, untimed cards after them in their incoming order.
    static QList<GoldenCard> sortedCards(QList<GoldenCard> cards);
    // The snapshot's cards as the view model shows them, in the same order.
    static QList<LearnedCardVM> cardViewModels(const SongRecordSnapshot &snapshot);

private:
    // What a piece of per-song work needs to know whether it may still write.
    struct Work
    {
        QPointer<SessionCoordinator> self;
        CancellationToken token;
        QString key;
        // The coordinator still exists and shows this song (cancelled or not).
        bool isCurrent() const;
        // Current and not cancelled: the only state in which the work writes anything.
        bool isLive() const { return isCurrent() && !token.isCancelled(); }
    };

    static QCoro::Task<void> runMonitor(QPointer<SessionCoordinator> self, QPointer<NowPlayingMonitor> monitor,
                                        CancellationToken token);
    // `countsAsPlay`: false when a restored song is only loaded again.
    static QCoro::Task<void> processTrack(Work work, NowPlayingTrack track, bool countsAsPlay);
    static QCoro::Task<void> processTrackSteps(Work work, NowPlayingTrack track, bool countsAsPlay);
    static QCoro::Task<void> regenerateCards(Work work, NowPlayingTrack track, LyricsResult lyricsResult,
                                             std::optional<QString> language);
    // Stored cards when a successful read finds them, else generated ones, into the view model.
    static QCoro::Task<void> loadCards(Work work, NowPlayingTrack track, QString lyricsText,
                                       std::optional<QString> language, bool isRetry);
    static QCoro::Task<void> loadStory(Work work, QString title, QString artist);
    static QCoro::Task<QList<GoldenCard>> fetchCards(std::shared_ptr<LLMProvider> llm, ContinuousClock *clock,
                                                     NowPlayingTrack track, QString lyrics,
                                                     std::optional<QString> language, CancellationToken token);
    // Deletes the song's record unless it holds the user's data (cards, or a favourite mark).
    static QCoro::Task<void> deleteRecordWithoutUserData(std::shared_ptr<CardStoreActor> actor, QString key);

    Work newWork(CancellationToken token, const QString &key);
    void handleSample(const std::optional<NowPlayingTrack> &track, bool countsAsPlay);
    void startFetchTask(const NowPlayingTrack &track, bool countsAsPlay);
    void startStoryTask(const QString &key, const QString &title, const QString &artist);
    void cancelFetchTask();
    void cancelStoryTask();

    void applyLookupError(LocalLyricsRepository::LookupError::Category category);
    void applyLyricsNotFound();
    void applyCardsError(const std::exception_ptr &error);

    NowPlayingMonitor *m_monitor;
    std::shared_ptr<LocalLyricsRepository> m_localLyrics;
    std::shared_ptr<LocalCardsRepository> m_localCards;
    std::shared_ptr<LLMProvider> m_llm;
    CardStore *m_store;
    std::shared_ptr<CardStoreActor> m_cardStoreActor;
    QPointer<PlayerViewModel> m_viewModel;
    CardLightingCoordinator *m_cardLighting;
    std::shared_ptr<SongStoryProvider> m_songStoryProvider;
    ToastCenter *m_toastCenter;
    ContinuousClock *m_clock;

    std::optional<QString> m_currentKey;
    // The playing song's lyrics as shown before a reload from a restored library, with where they
    // came from: the store does not keep the source, so the same text read back keeps its badge.
    struct ShownLyrics
    {
        QString songKey;
        QString rawLRC;
        LyricsSource source;
    };
    std::optional<ShownLyrics> m_reloadedLyrics;
    std::optional<CancellationToken> m_currentFetchTask;
    std::optional<CancellationToken> m_currentStoryTask;
    std::optional<CancellationToken> m_monitorTask;
    bool m_isStarted = false;
    bool m_wasStarted = false; // single use: a stopped coordinator does not start again
};
