#include "session/SessionCoordinator.h"

#include "backend/LLMProvider.h"
#include "backend/RemoteCardsError.h"
#include "core/AppLog.h"
#include "core/LanguagePolicy.h"
#include "core/SongStoryError.h"
#include "core/SongStoryProvider.h"
#include "core/store/CardStoreActor.h"
#include "session/player/CardLightingCoordinator.h"
#include "session/LocalCardsRepository.h"
#include "session/nowplaying/NowPlayingMonitor.h"
#include "session/player/PlayerViewModel.h"
#include "session/ToastCenter.h"

#include <algorithm>

namespace {

// The story provider of a coordinator that was given none.
class UnavailableStoryProvider final : public SongStoryProvider
{
public:
    QCoro::Task<SongStory> fetchStory(QString, QString, QString) override
    {
        throw RemoteSongStoryError::data(QStringLiteral("no story provider configured"));
        co_return SongStory{};
    }
};

} // namespace

SessionCoordinator::SessionCoordinator(NowPlayingMonitor *monitor, std::shared_ptr<LocalLyricsRepository> localLyrics,
                                       std::shared_ptr<LocalCardsRepository> localCards,
                                       std::shared_ptr<LLMProvider> llm, CardStore *store,
                                       std::shared_ptr<CardStoreActor> cardStoreActor, PlayerViewModel *viewModel,
                                       CardLightingCoordinator *cardLighting,
                                       std::shared_ptr<SongStoryProvider> songStoryProvider, ToastCenter *toastCenter,
                                       ContinuousClock *clock, QObject *parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_localLyrics(std::move(localLyrics))
    , m_localCards(std::move(localCards))
    , m_llm(std::move(llm))
    , m_store(store)
    , m_cardStoreActor(std::move(cardStoreActor))
    , m_viewModel(viewModel)
    , m_cardLighting(cardLighting ? cardLighting : new CardLightingCoordinator(clock, this))
    , m_songStoryProvider(songStoryProvider ? std::move(songStoryProvider)
                                            : std::make_shared<UnavailableStoryProvider>())
    , m_toastCenter(toastCenter ? toastCenter : new ToastCenter(this))
    , m_clock(clock)
{
    m_viewModel->setCardStoreActor(m_cardStoreActor);
}

SessionCoordinator::~SessionCoordinator()
{
    // Tasks hold the coordinator weakly; cancelling them makes their requests end now.
    if (m_monitorTask)
        m_monitorTask->cancel();
    cancelFetchTask();
    cancelStoryTask();
}

bool SessionCoordinator::Work::isCurrent() const
{
    return self && self->m_currentKey && *self->m_currentKey == key;
}

SessionCoordinator::Work SessionCoordinator::newWork(CancellationToken token, const QString &key)
{
    return Work{QPointer<SessionCoordinator>(this), std::move(token), key};
}

// ---- lifecycle ------------------------------------------------------------------------------

void SessionCoordinator::start()
{
    if (m_isStarted || m_wasStarted)
        return;
    m_isStarted = true;
    m_wasStarted = true;
    qCInfo(lcSession) << "SessionCoordinator started";
    CancellationToken token;
    m_monitorTask = token;
    runMonitor(QPointer<SessionCoordinator>(this), QPointer<NowPlayingMonitor>(m_monitor), token);
}

void SessionCoordinator::stop()
{
    if (!m_isStarted)
        return;
    m_isStarted = false;
    qCInfo(lcSession) << "SessionCoordinator stop() — tearing down";
    m_currentKey.reset();
    if (m_monitorTask) {
        m_monitorTask->cancel();
        m_monitorTask.reset();
    }
    cancelFetchTask();
    cancelStoryTask();
    if (m_viewModel)
        m_viewModel->clearLoadingFlags();
    // Stopping the monitor finishes its stream; the loop, already cancelled, ends with it.
    if (m_monitor)
        m_monitor->stop();
}

QCoro::Task<void> SessionCoordinator::runMonitor(QPointer<SessionCoordinator> self, QPointer<NowPlayingMonitor> monitor,
                                                 CancellationToken token)
{
    if (!self || !monitor)
        co_return;
    if (token.isCancelled()) {
        qCInfo(lcSession) << "SessionCoordinator monitor task cancelled before start";
        co_return;
    }
    monitor->start();
    Channel<std::optional<NowPlayingTrack>> tracks = monitor->tracks();
    for (;;) {
        std::optional<std::optional<NowPlayingTrack>> next;
        try {
            next = co_await tracks.receive(token);
        } catch (const CancelledError &) {
            break;
        }
        if (!next || !self || token.isCancelled())
            break;
        self->handle(*next);
    }
    qCInfo(lcSession) << "SessionCoordinator track stream ended";
}

// ---- per-sample handler ---------------------------------------------------------------------

void SessionCoordinator::handle(const std::optional<NowPlayingTrack> &track)
{
    handleSample(track, true);
}

void SessionCoordinator::handleSample(const std::optional<NowPlayingTrack> &track, bool countsAsPlay)
{
    if (!m_viewModel)
        return;
    if (!track) {
        m_viewModel->resetForNoTrack();
        m_currentKey.reset();
        return;
    }
    m_viewModel->setAnchor(m_monitor ? m_monitor->anchor() : std::nullopt);
    m_viewModel->setTrack(*track);
    m_cardLighting->update(m_viewModel->cards(), m_viewModel->currentElapsed() + m_viewModel->effectiveOffset());

    const QString key = track->songKey();
    if (m_currentKey && *m_currentKey == key)
        return;

    cancelFetchTask();
    m_currentKey = key;
    m_viewModel->resetForNewSong(*track);
    m_cardLighting->setMode(LightingMode::automatic());
    m_cardLighting->clearIdleTimer();
    m_cardLighting->setAutoFollowLitCardId(std::nullopt);
    cancelStoryTask();
    startFetchTask(*track, countsAsPlay);
}

void SessionCoordinator::startFetchTask(const NowPlayingTrack &track, bool countsAsPlay)
{
    CancellationToken token;
    m_currentFetchTask = token;
    processTrack(newWork(token, track.songKey()), track, countsAsPlay);
}

void SessionCoordinator::startStoryTask(const QString &key, const QString &title, const QString &artist)
{
    cancelStoryTask();
    CancellationToken token;
    m_currentStoryTask = token;
    loadStory(newWork(token, key), title, artist);
}

void SessionCoordinator::cancelFetchTask()
{
    if (m_currentFetchTask) {
        m_currentFetchTask->cancel();
        m_currentFetchTask.reset();
    }
}

void SessionCoordinator::cancelStoryTask()
{
    if (m_currentStoryTask) {
        m_currentStoryTask->cancel();
        m_currentStoryTask.reset();
    }
}

// ---- restore hooks --------------------------------------------------------------------------

void SessionCoordinator::prepareForRestore()
{
    cancelFetchTask();
    cancelStoryTask();
    if (!m_viewModel)
        return;
    PlayerViewModel::Batch batch(m_viewModel);
    m_viewModel->clearLoadingFlags();
    m_viewModel->setCurrentStory(std::nullopt);
    m_viewModel->setIsStoryModalOpen(false);
}

QCoro::Task<void> SessionCoordinator::reloadCurrentTrack()
{
    // After stop() nothing may start a pipeline again.
    if (!m_isStarted || !m_viewModel || !m_viewModel->track())
        co_return;
    const NowPlayingTrack track = *m_viewModel->track();
    const std::optional<LyricsResult> &shown = m_viewModel->lyricsResult();
    m_reloadedLyrics.reset();
    if (shown && shown->isSynced() && m_viewModel->currentSource())
        m_reloadedLyrics = ShownLyrics{track.songKey(), shown->rawLRC(), *m_viewModel->currentSource()};
    m_currentKey.reset();
    // The song is already playing and its play was counted when it started; loading it again
    // from the restored library must not count that same play a second time.
    handleSample(track, false);
}

// ---- retries --------------------------------------------------------------------------------

void SessionCoordinator::retryLyrics()
{
    if (!m_viewModel || !m_viewModel->track())
        return;
    const NowPlayingTrack track = *m_viewModel->track();
    if (!m_currentKey || *m_currentKey != track.songKey())
        return;
    if (m_viewModel->errorState() != CantorellaError::lyricsUnavailable())
        return;
    cancelFetchTask();
    {
        PlayerViewModel::Batch batch(m_viewModel);
        m_viewModel->setLyricsResult(std::nullopt);
        m_viewModel->setLyricLines({});
        m_viewModel->replaceCards({});
        m_viewModel->setErrorState(std::nullopt);
        m_viewModel->setLyricsErrorDetail(std::nullopt);
        m_viewModel->setIsLoadingLyrics(true);
    }
    startFetchTask(track, true);
}

void SessionCoordinator::retryCards()
{
    if (!m_viewModel || !m_viewModel->track())
        return;
    const NowPlayingTrack track = *m_viewModel->track();
    if (!m_currentKey || *m_currentKey != track.songKey())
        return;
    if (!m_viewModel->lyricsResult() || m_viewModel->errorState() != CantorellaError::cardsUnavailable())
        return;
    if (!LanguagePolicy::isTarget(m_viewModel->currentLanguage()))
        return;
    cancelFetchTask();
    CancellationToken token;
    m_currentFetchTask = token;
    regenerateCards(newWork(token, *m_currentKey), track, *m_viewModel->lyricsResult(),
                    m_viewModel->currentLanguage());
}

void SessionCoordinator::retryStory()
{
    if (!m_viewModel || !m_viewModel->track())
        return;
    const NowPlayingTrack track = *m_viewModel->track();
    if (!m_currentKey || *m_currentKey != track.songKey())
        return;
    if (!m_viewModel->lyricsResult() || !LanguagePolicy::isTarget(m_viewModel->currentLanguage())
        || m_viewModel->currentStory())
        return;
    startStoryTask(*m_currentKey, track.title, track.artist);
}

// ---- error texts ----------------------------------------------------------------------------

void SessionCoordinator::applyLookupError(LocalLyricsRepository::LookupError::Category category)
{
    using Category = LocalLyricsRepository::LookupError::Category;
    QString detail;
    const char *log = "";
    switch (category) {
    case Category::transport:
        detail = QStringLiteral("网络连接失败，请检查网络后重试。");
        log = "Lyrics error (transport): 网络连接失败,请检查网络后重试。";
        break;
    case Category::serverError:
        detail = QStringLiteral("服务器暂时不可用，请稍后重试。");
        log = "Lyrics error (serverError): 服务器暂时不可用,稍后会自动重试。";
        break;
    case Category::parse:
        detail = QStringLiteral("歌词响应格式异常，请稍后再试。");
        log = "Lyrics error (parse): 歌词响应格式异常,请稍后再试。";
        break;
    case Category::http4xxOther:
        detail = QStringLiteral("歌词请求被拒绝，请稍后再试。");
        log = "Lyrics error (http4xxOther): 请求被拒绝,请稍后再试。";
        break;
    }
    m_viewModel->setLyricsError(detail);
    qCWarning(lcSession).noquote() << QString::fromUtf8(log);
}

void SessionCoordinator::applyLyricsNotFound()
{
    m_viewModel->setLyricsNotFound(LyricsResult::notFound());
    qCWarning(lcSession).noquote() << QStringLiteral("Lyrics error (notFound): 未找到这首歌的歌词。");
}

void SessionCoordinator::applyCardsError(const std::exception_ptr &error)
{
    m_viewModel->setCardsError(error);
}
