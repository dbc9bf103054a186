// The per-song pipeline of SessionCoordinator: lyrics, language, cards and story.
//
// Rule of every step below: after each wait, `work.isLive()` (coordinator alive, not cancelled,
// song still current) is checked before anything is written — to the view model or the store.

#include "session/SessionCoordinator.h"

#include "backend/LLMProvider.h"
#include "backend/RemoteCardsError.h"
#include "backend/RemoteLyricsError.h"
#include "core/AppLog.h"
#include "core/LanguagePolicy.h"
#include "core/SongStoryProvider.h"
#include "core/store/CardStoreActor.h"
#include "platform/Text.h"
#include "session/LocalCardsRepository.h"
#include "session/player/PlayerViewModel.h"

#include <qcoro/qcorotimer.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

bool isTransportFailure(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const RemoteCardsError &e) {
        return e.kind() == RemoteCardsError::Kind::transport;
    } catch (const RemoteLyricsError &e) {
        return e.kind() == RemoteLyricsError::Kind::transport;
    } catch (...) {
    }
    return false;
}

bool isCancellation(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const CancelledError &) {
        return true;
    } catch (...) {
    }
    return false;
}

bool holdsUserData(const SongRecordSnapshot &snapshot)
{
    return snapshot.isFavorite || !snapshot.cards.isEmpty();
}

} // namespace

QList<GoldenCard> SessionCoordinator::sortedCards(QList<GoldenCard> cards)
{
    // Untimed (and NaN) cards last; equal times keep their arrival order.
    const auto timed = [](const GoldenCard &card) { return card.lineTimestamp && !std::isnan(*card.lineTimestamp); };
    std::stable_sort(cards.begin(), cards.end(), [&timed](const GoldenCard &a, const GoldenCard &b) {
        return timed(a) && (!timed(b) || *a.lineTimestamp < *b.lineTimestamp);
    });
    return cards;
}

QList<LearnedCardVM> SessionCoordinator::cardViewModels(const SongRecordSnapshot &snapshot)
{
    QList<LearnedCardVM> cards;
    cards.reserve(snapshot.cards.size());
    for (const LearnedCardSnapshot &card : snapshot.cards)
        cards.append(card.toViewModel());
    LearnedCardVM::sortByLineTimestamp(cards);
    return cards;
}

// ---- lyrics and language --------------------------------------------------------------------

QCoro::Task<void> SessionCoordinator::processTrack(Work work, NowPlayingTrack track, bool countsAsPlay)
{
    co_await processTrackSteps(work, track, countsAsPlay);
    // No spinner outlives the task; a replaced task leaves the flags to its successor.
    if (work.isLive())
        work.self->m_viewModel->clearLoadingFlags();
}

QCoro::Task<void> SessionCoordinator::processTrackSteps(Work work, NowPlayingTrack track, bool countsAsPlay)
{
    if (!work.isLive())
        co_return;
    // Collaborators are held here so that they outlive every wait of this task.
    std::shared_ptr<CardStoreActor> actor = work.self->m_cardStoreActor;
    std::shared_ptr<LocalLyricsRepository> lyricsRepository = work.self->m_localLyrics;
    const QString key = work.key;
    // Only the first pipeline after a reload reads what was shown before it.
    const std::optional<ShownLyrics> reloaded = std::exchange(work.self->m_reloadedLyrics, std::nullopt);

    {
        // Until this song's pipeline has answered, its cards are pending too: the Now panel shows
        // them loading, never "no cards" for a song whose cards were not asked for yet. Every way
        // out of the pipeline settles the flag (cards, card error, other language, no lyrics).
        PlayerViewModel::Batch batch(work.self->m_viewModel);
        work.self->m_viewModel->setIsLoadingLyrics(true);
        work.self->m_viewModel->setIsLoadingCards(true);
    }

    std::optional<SongRecordSnapshot> initial;
    try {
        initial = co_await actor->snapshot(key);
    } catch (const std::exception &e) {
        qCWarning(lcSession) << "Stored song could not be read; looking the lyrics up:" << e.what();
    }
    if (!work.isLive())
        co_return;

    LyricsResult result = LyricsResult::notFound();
    LyricsSource source = LyricsSource::cache;
    std::optional<QString> language;
    if (initial && !Text::trimmed(initial->lyrics).isEmpty() && initial->language) {
        result = PlayerViewModel::lyricsResultFromRaw(initial->lyrics);
        language = initial->language;
        if (reloaded && reloaded->songKey == key && result.isSynced() && result.rawLRC() == reloaded->rawLRC)
            source = reloaded->source;
    } else {
        auto lookup = [lyricsRepository, track] { return lyricsRepository->lookup(track); };
        QCoro::Task<LocalLyricsRepository::LookupResult> step = AppLog::timed("LyricsLookup", lcSession(), lookup);
        const LocalLyricsRepository::LookupResult found = co_await std::move(step);
        switch (found.kind()) {
        case LocalLyricsRepository::LookupResult::Kind::error:
            if (work.isLive())
                work.self->applyLookupError(found.lookupError().category);
            co_return;
        case LocalLyricsRepository::LookupResult::Kind::notFound:
            if (!work.isLive())
                co_return;
            co_await deleteRecordWithoutUserData(actor, key);
            if (work.isLive())
                work.self->applyLyricsNotFound();
            co_return;
        case LocalLyricsRepository::LookupResult::Kind::found:
            result = PlayerViewModel::lyricsResultFromRaw(found.rawLRC());
            source = found.source();
            language = found.language();
            break;
        }
    }

    const QString lyricsText = result.isSynced() ? result.rawLRC() : QString();
    const bool isTarget = LanguagePolicy::isTarget(language);
    if (!work.isCurrent()) {
        if (work.self)
            qCWarning(lcSession).noquote() << (isTarget ? "Stale lyrics fetch discarded."
                                                        : "Stale lyrics fetch discarded (not target language).");
        co_return;
    }
    if (!work.isLive())
        co_return;

    {
        PlayerViewModel *vm = work.self->m_viewModel;
        PlayerViewModel::Batch batch(vm);
        vm->setCurrentSource(source);
        vm->applySongState(track, result, {}, language);
    }

    if (!isTarget) {
        co_await deleteRecordWithoutUserData(actor, key);
        if (work.isLive())
            work.self->m_viewModel->setNotTargetLanguage(language.value_or(QStringLiteral("und")));
        co_return;
    }

    std::optional<SongRecordSnapshot> saved;
    try {
        saved = co_await actor->ensureRecord(key, track.title, track.artist, lyricsText, language);
    } catch (const std::exception &e) {
        qCWarning(lcSession) << "Saving the lyrics failed:" << e.what();
    }
    if (!work.isLive())
        co_return;
    if (countsAsPlay) {
        try {
            co_await actor->recordPlay(key, track.title, track.artist);
        } catch (const std::exception &e) {
            qCWarning(lcSession) << "Counting the play failed:" << e.what();
        }
    }
    if (!work.isLive())
        co_return;

    PlayerViewModel *vm = work.self->m_viewModel;
    const std::optional<SongRecordSnapshot> &stored = saved ? saved : initial;
    if (stored) {
        vm->applyStoredOffset(stored->lyricsOffset, key);
        const QString article = stored->storyArticle ? Text::trimmed(*stored->storyArticle) : QString();
        if (!article.isEmpty())
            vm->setCurrentStory(SongStory{stored->title, stored->artist, article, SongStorySource::Remote});
    }
    if (!vm->currentStory())
        work.self->startStoryTask(key, track.title, track.artist);

    vm->beginCardsLoading();
    if (initial && !initial->cards.isEmpty()) {
        vm->setCards(cardViewModels(*initial));
        co_return;
    }
    co_await loadCards(work, track, lyricsText, language, false);
}

QCoro::Task<void> SessionCoordinator::deleteRecordWithoutUserData(std::shared_ptr<CardStoreActor> actor, QString key)
{
    try {
        const std::optional<SongRecordSnapshot> record = co_await actor->snapshot(key);
        if (!record)
            co_return;
        if (holdsUserData(*record)) {
            qCInfo(lcSession) << "Song record kept: it holds cards or is a favourite" << key;
            co_return;
        }
        co_await actor->deleteSong(key);
    } catch (const std::exception &e) {
        // Unknown state: keep the record rather than risk the user's data.
        qCWarning(lcSession) << "Song record not deleted:" << e.what();
    }
}

// ---- cards ----------------------------------------------------------------------------------

QCoro::Task<void> SessionCoordinator::regenerateCards(Work work, NowPlayingTrack track, LyricsResult lyricsResult,
                                                      std::optional<QString> language)
{
    if (!work.isLive())
        co_return;
    const QString lyricsText = lyricsResult.isSynced() ? lyricsResult.rawLRC() : QString();
    if (Text::trimmed(lyricsText).isEmpty()) {
        work.self->applyCardsError(std::make_exception_ptr(RemoteCardsError::invalidInput(QStringLiteral("lyrics"))));
        co_return;
    }
    work.self->m_viewModel->beginCardsLoading();
    co_await loadCards(work, track, lyricsText, language, true);
    if (work.isLive())
        work.self->m_viewModel->clearLoadingFlags();
}

QCoro::Task<void> SessionCoordinator::loadCards(Work work, NowPlayingTrack track, QString lyricsText,
                                                std::optional<QString> language, bool isRetry)
{
    if (!work.isLive())
        co_return;
    std::shared_ptr<CardStoreActor> actor = work.self->m_cardStoreActor;
    std::shared_ptr<LLMProvider> llm = work.self->m_llm;
    ContinuousClock *clock = work.self->m_clock;
    const QString key = work.key;

    // The main-thread store reads a failure as "no cards"; the decision to generate (which
    // replaces every stored card with its marks) therefore rests on a read that succeeded.
    const bool mainStoreHit = work.self->m_localCards->lookup(key).isHit();
    std::optional<SongRecordSnapshot> fresh;
    std::exception_ptr readFailure;
    try {
        fresh = co_await actor->snapshot(key);
    } catch (...) {
        readFailure = std::current_exception();
    }
    if (!work.isLive())
        co_return;
    if (fresh && !fresh->cards.isEmpty()) {
        work.self->m_viewModel->setCards(cardViewModels(*fresh));
        co_return;
    }
    if (readFailure) {
        qCWarning(lcCards).noquote() << "Stored cards could not be read; not generating over them:"
                                     << AppLog::errorText(readFailure) << (mainStoreHit ? "(stored cards seen)" : "");
        work.self->applyCardsError(readFailure);
        co_return;
    }

    std::exception_ptr failure;
    std::optional<SongRecordSnapshot> stored;
    try {
        auto generate = [llm, clock, track, lyricsText, language, token = work.token] {
            return fetchCards(llm, clock, track, lyricsText, language, token);
        };
        QCoro::Task<QList<GoldenCard>> step = isRetry ? AppLog::timed("CardRetry", lcCards(), generate)
                                                      : AppLog::timed("CardGeneration", lcCards(), generate);
        QList<GoldenCard> cards = co_await std::move(step);
        if (work.isLive()) {
            QList<GoldenCard> sorted = sortedCards(std::move(cards));
            stored = co_await actor->upsertSong(key, track.title, track.artist, lyricsText, language, sorted);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        if (isCancellation(failure))
            co_return;
        const QString text = AppLog::errorText(failure);
        if (isRetry)
            qCWarning(lcCards).noquote() << "LLM card retry failed:" << text;
        else
            qCWarning(lcCards).noquote() << "LLM card generation failed:" << text;
        // A failure of work that was replaced is not shown over the new song's state.
        if (work.isLive())
            work.self->applyCardsError(failure);
        co_return;
    }
    if (stored && work.isLive())
        work.self->m_viewModel->setCards(cardViewModels(*stored));
}

QCoro::Task<QList<GoldenCard>> SessionCoordinator::fetchCards(std::shared_ptr<LLMProvider> llm, ContinuousClock *clock,
                                                             NowPlayingTrack track, QString lyrics,
                                                             std::optional<QString> language, CancellationToken token)
{
    std::exception_ptr first;
    try {
        QList<GoldenCard> cards = co_await llm->fetchCards(lyrics, track, language, token);
        co_return cards;
    } catch (...) {
        first = std::current_exception();
    }
    if (!isTransportFailure(first))
        std::rethrow_exception(first);
    const std::chrono::nanoseconds pause = transportRetryDelay;
    co_await clock->sleepFor(pause, token);
    token.throwIfCancelled();
    QList<GoldenCard> cards = co_await llm->fetchCards(lyrics, track, language, token);
    co_return cards;
}

// ---- story ----------------------------------------------------------------------------------

QCoro::Task<void> SessionCoordinator::loadStory(Work work, QString title, QString artist)
{
    if (!work.self || work.token.isCancelled())
        co_return;
    // One turn of the event loop before the request: the pipeline that started this task goes on
    // first, and a task that is replaced at once never reaches the provider.
    const std::chrono::milliseconds nextTurn{0};
    co_await QCoro::sleepFor(nextTurn);
    if (!work.self || work.token.isCancelled())
        co_return;
    std::shared_ptr<SongStoryProvider> provider = work.self->m_songStoryProvider;
    std::shared_ptr<CardStoreActor> actor = work.self->m_cardStoreActor;
    const QString key = work.key;

    std::optional<SongStory> story;
    try {
        story = co_await provider->fetchStory(key, title, artist);
    } catch (...) {
        qCWarning(lcSession).noquote() << "Story fetch failed:" << AppLog::errorText(std::current_exception());
        co_return;
    }
    if (!work.isLive())
        co_return;
    try {
        const std::optional<QString> article = story->article;
        co_await actor->saveStory(key, title, artist, article);
    } catch (const std::exception &e) {
        qCWarning(lcSession) << "Saving the story failed:" << e.what();
    }
    if (!work.isLive())
        co_return;
    work.self->m_viewModel->setCurrentStory(*story);
    qCInfo(lcSession) << "Story fetch succeeded";
}
