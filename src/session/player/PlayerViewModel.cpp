#include "session/player/PlayerViewModel.h"

#include "core/AppLog.h"
#include "core/LrcParser.h"
#include "core/store/LearnedCard.h"
#include "core/store/SongRecord.h"
#include "platform/Text.h"

PlayerViewModel::PlayerViewModel(DtClock dtClock, PlayerViewModelDependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_preferences(dependencies.userId, dependencies.settings, dependencies.debounceClock, debounceDelay)
    , m_dtClock(std::move(dtClock))
    , m_wallClock(dependencies.wallClock)
    , m_songOffsetWrite(dependencies.debounceClock, debounceDelay)
{
    m_anchorDate = m_wallClock->now();
}

PlayerViewModel::~PlayerViewModel()
{
    m_songOffsetWrite.flush();
}

// ---- batching ---------------------------------------------------------------------------------

PlayerViewModel::Batch::Batch(PlayerViewModel *model)
    : m_model(model)
{
    m_model->beginBatch();
}

PlayerViewModel::Batch::~Batch()
{
    m_model->endBatch();
}

void PlayerViewModel::beginBatch()
{
    if (m_batchDepth++ == 0)
        m_offsetBeforeBatch = effectiveOffset();
}

void PlayerViewModel::endBatch()
{
    if (--m_batchDepth > 0)
        return;
    const quint32 changed = std::exchange(m_changed, 0u);
    const bool offsetChanged = effectiveOffset() != m_offsetBeforeBatch;
    emitChanged(changed);
    if (offsetChanged)
        emit effectiveOffsetChanged();
}

void PlayerViewModel::emitChanged(quint32 changed)
{
    // Declaration order of the properties.
    if (changed & TrackField) emit trackChanged();
    if (changed & SongSessionIdField) emit songSessionIdChanged();
    if (changed & LyricsResultField) emit lyricsResultChanged();
    if (changed & LyricLinesField) emit lyricLinesChanged();
    if (changed & CardsField) emit cardsChanged();
    if (changed & ErrorStateField) emit errorStateChanged();
    if (changed & CardsErrorDetailField) emit cardsErrorDetailChanged();
    if (changed & LyricsErrorDetailField) emit lyricsErrorDetailChanged();
    if (changed & IsLoadingLyricsField) emit isLoadingLyricsChanged();
    if (changed & IsLoadingCardsField) emit isLoadingCardsChanged();
    if (changed & CurrentSourceField) emit currentSourceChanged();
    if (changed & CurrentLanguageField) emit currentLanguageChanged();
    if (changed & NotTargetLanguageStateField) emit notTargetLanguageStateChanged();
    if (changed & CurrentStoryField) emit currentStoryChanged();
    if (changed & IsStoryModalOpenField) emit isStoryModalOpenChanged();
    if (changed & GlobalOffsetField) emit globalOffsetChanged();
    if (changed & PerSongOffsetField) emit perSongOffsetChanged();
    if (changed & NudgeEnabledField) emit nudgeEnabledChanged();
    if (changed & AnchorField) emit anchorChanged();
    if (changed & AnchorDateField) emit anchorDateChanged();
    if (changed & CardStoreActorField) emit cardStoreActorChanged();
}

// ---- plain property writes ---------------------------------------------------------------------

void PlayerViewModel::setTrack(const std::optional<NowPlayingTrack> &track)
{
    Batch batch(this);
    writeTrack(track);
}

void PlayerViewModel::setLyricsResult(const std::optional<LyricsResult> &result)
{
    Batch batch(this);
    write(m_lyricsResult, result, LyricsResultField);
}

void PlayerViewModel::setLyricLines(const QList<SyncedLine> &lines)
{
    Batch batch(this);
    write(m_lyricLines, lines, LyricLinesField);
}

void PlayerViewModel::writeTrack(const std::optional<NowPlayingTrack> &track)
{
    if (m_track == track)
        return;
    m_track = track;
    m_trackSongKey = track ? std::optional<QString>(track->songKey()) : std::nullopt;
    touch(TrackField);
}

void PlayerViewModel::writeCards(const QList<LearnedCardVM> &cards)
{
    if (m_cards == cards)
        return;
    m_cards = cards;
    touch(CardsField);
    // An answer computed for the old cards (often "none", before they arrived) must not be
    // reused for the new ones.
    clearActiveCardMemo();
}

void PlayerViewModel::replaceCards(const QList<LearnedCardVM> &cards)
{
    Batch batch(this);
    writeCards(cards);
}

void PlayerViewModel::setErrorState(const std::optional<CantorellaError> &error)
{
    Batch batch(this);
    write(m_errorState, error, ErrorStateField);
}

void PlayerViewModel::setCardsErrorDetail(const std::optional<QString> &detail)
{
    Batch batch(this);
    write(m_cardsErrorDetail, detail, CardsErrorDetailField);
}

void PlayerViewModel::setLyricsErrorDetail(const std::optional<QString> &detail)
{
    Batch batch(this);
    write(m_lyricsErrorDetail, detail, LyricsErrorDetailField);
}

void PlayerViewModel::setIsLoadingLyrics(bool loading)
{
    Batch batch(this);
    write(m_isLoadingLyrics, loading, IsLoadingLyricsField);
}

void PlayerViewModel::setIsLoadingCards(bool loading)
{
    Batch batch(this);
    write(m_isLoadingCards, loading, IsLoadingCardsField);
}

void PlayerViewModel::setCurrentSource(const std::optional<LyricsSource> &source)
{
    Batch batch(this);
    write(m_currentSource, source, CurrentSourceField);
}

void PlayerViewModel::setCurrentLanguage(const std::optional<QString> &language)
{
    Batch batch(this);
    write(m_currentLanguage, language, CurrentLanguageField);
}

void PlayerViewModel::setNotTargetLanguageState(const std::optional<QString> &language)
{
    Batch batch(this);
    write(m_notTargetLanguageState, language, NotTargetLanguageStateField);
}

void PlayerViewModel::setCurrentStory(const std::optional<SongStory> &story)
{
    Batch batch(this);
    write(m_currentStory, story, CurrentStoryField);
}

void PlayerViewModel::setIsStoryModalOpen(bool open)
{
    Batch batch(this);
    write(m_isStoryModalOpen, open, IsStoryModalOpenField);
}

void PlayerViewModel::setCardStoreActor(std::shared_ptr<CardStoreActor> actor)
{
    Batch batch(this);
    m_cardStoreActor = std::move(actor);
    touch(CardStoreActorField);
}

// ---- the song's life cycle ---------------------------------------------------------------------

void PlayerViewModel::resetForNoTrack()
{
    Batch batch(this);
    writeTrack(std::nullopt);
    write(m_lyricsResult, {}, LyricsResultField);
    write(m_lyricLines, {}, LyricLinesField);
    writeCards({});
    write(m_errorState, {}, ErrorStateField);
    write(m_cardsErrorDetail, {}, CardsErrorDetailField);
    write(m_currentSource, {}, CurrentSourceField);
    write(m_currentLanguage, {}, CurrentLanguageField);
    write(m_lyricsErrorDetail, {}, LyricsErrorDetailField);
    write(m_notTargetLanguageState, {}, NotTargetLanguageStateField);
    write(m_currentStory, {}, CurrentStoryField);
    write(m_isStoryModalOpen, false, IsStoryModalOpenField);
    m_anchor.reset();
    touch(AnchorField);
    write(m_isLoadingLyrics, false, IsLoadingLyricsField);
    write(m_isLoadingCards, false, IsLoadingCardsField);
    clearActiveCardMemo();
}

void PlayerViewModel::resetForNewSong(const NowPlayingTrack &track)
{
    Batch batch(this);
    writeTrack(track);
    write(m_lyricsResult, {}, LyricsResultField);
    write(m_lyricLines, {}, LyricLinesField);
    writeCards({});
    write(m_errorState, {}, ErrorStateField);
    write(m_lyricsErrorDetail, {}, LyricsErrorDetailField);
    write(m_cardsErrorDetail, {}, CardsErrorDetailField);
    write(m_currentSource, {}, CurrentSourceField);
    write(m_currentLanguage, {}, CurrentLanguageField);
    write(m_notTargetLanguageState, {}, NotTargetLanguageStateField);
    write(m_currentStory, {}, CurrentStoryField);
    write(m_isStoryModalOpen, false, IsStoryModalOpenField);
    write(m_isLoadingLyrics, true, IsLoadingLyricsField);
    write(m_isLoadingCards, false, IsLoadingCardsField);
    clearActiveCardMemo();
    ++m_songSessionId; // wraps to 0 after the largest value
    touch(SongSessionIdField);
}

bool PlayerViewModel::isSameSongState(const std::optional<QString> &songKey, const QList<SyncedLine> &lines,
                                      const QList<LearnedCardVM> &cards,
                                      const std::optional<QString> &language) const
{
    return songKey && m_trackSongKey && *m_trackSongKey == *songKey && m_lyricLines == lines && m_cards == cards
        && m_currentLanguage == language;
}

void PlayerViewModel::applyContent(const LyricsResult &lyricsResult, const QList<LearnedCardVM> &cards)
{
    write(m_lyricsResult, std::optional<LyricsResult>(lyricsResult), LyricsResultField);
    write(m_lyricLines, lyricsResult.lines(), LyricLinesField);
    writeCards(cards);
    write(m_errorState, {}, ErrorStateField);
    write(m_cardsErrorDetail, {}, CardsErrorDetailField);
}

void PlayerViewModel::applySongState(const NowPlayingTrack &track, const LyricsResult &lyricsResult,
                                     const QList<LearnedCardVM> &cards, const std::optional<QString> &language)
{
    Batch batch(this);
    if (isSameSongState(track.songKey(), lyricsResult.lines(), cards, language)) {
        writeTrack(track);
        return;
    }
    writeTrack(track);
    applyContent(lyricsResult, cards);
    write(m_isLoadingLyrics, false, IsLoadingLyricsField);
    write(m_currentLanguage, language, CurrentLanguageField);
    write(m_notTargetLanguageState, {}, NotTargetLanguageStateField);
    clearActiveCardMemo();
    ++m_songSessionId;
    touch(SongSessionIdField);
}

void PlayerViewModel::applyStoredState(const QList<LearnedCardVM> &cards, const LyricsResult &lyricsResult,
                                       const std::optional<QString> &language)
{
    Batch batch(this);
    if (isSameSongState(m_trackSongKey, lyricsResult.lines(), cards, language))
        return;
    applyContent(lyricsResult, cards);
    write(m_notTargetLanguageState, {}, NotTargetLanguageStateField);
    write(m_currentLanguage, language, CurrentLanguageField);
    clearActiveCardMemo();
    ++m_songSessionId;
    touch(SongSessionIdField);
}

namespace {

QList<LearnedCardVM> viewCards(SongRecord &record)
{
    QList<LearnedCardVM> cards;
    for (LearnedCard *card : record.cards())
        cards.append(LearnedCardVM::fromCard(*card));
    return cards;
}

} // namespace

void PlayerViewModel::applySongState(const NowPlayingTrack &track, const LyricsResult &lyricsResult,
                                     SongRecord &record)
{
    applySongState(track, lyricsResult, viewCards(record), record.language());
}

void PlayerViewModel::applyStoredSong(SongRecord &record)
{
    applyStoredState(viewCards(record), lyricsResultFromRaw(record.lyrics()), record.language());
}

void PlayerViewModel::beginCardsLoading()
{
    Batch batch(this);
    writeCards({});
    write(m_errorState, {}, ErrorStateField);
    write(m_cardsErrorDetail, {}, CardsErrorDetailField);
    write(m_isLoadingCards, true, IsLoadingCardsField);
    clearActiveCardMemo();
}

void PlayerViewModel::setCards(const QList<LearnedCardVM> &cards)
{
    Batch batch(this);
    writeCards(cards);
    if (m_errorState && m_errorState->kind() == CantorellaError::Kind::cardsUnavailable)
        write(m_errorState, {}, ErrorStateField);
    write(m_cardsErrorDetail, {}, CardsErrorDetailField);
    write(m_isLoadingCards, false, IsLoadingCardsField);
}

void PlayerViewModel::setCardsError(const std::exception &error)
{
    Batch batch(this);
    write(m_errorState, std::optional<CantorellaError>(CantorellaError::cardsUnavailable()), ErrorStateField);
    write(m_cardsErrorDetail, std::optional<QString>(localizedDescription(error)), CardsErrorDetailField);
    writeCards({});
    write(m_isLoadingCards, false, IsLoadingCardsField);
}

void PlayerViewModel::setCardsError(const std::exception_ptr &error)
{
    Batch batch(this);
    write(m_errorState, std::optional<CantorellaError>(CantorellaError::cardsUnavailable()), ErrorStateField);
    write(m_cardsErrorDetail, std::optional<QString>(localizedDescription(error)), CardsErrorDetailField);
    writeCards({});
    write(m_isLoadingCards, false, IsLoadingCardsField);
}

void PlayerViewModel::setNotTargetLanguage(const QString &language)
{
    Batch batch(this);
    write(m_notTargetLanguageState, std::optional<QString>(language), NotTargetLanguageStateField);
    writeCards({});
    write(m_cardsErrorDetail, {}, CardsErrorDetailField);
    write(m_isLoadingCards, false, IsLoadingCardsField);
    clearActiveCardMemo();
}

void PlayerViewModel::setLyricsError(const QString &detail)
{
    Batch batch(this);
    write(m_errorState, std::optional<CantorellaError>(CantorellaError::lyricsUnavailable()), ErrorStateField);
    write(m_lyricsErrorDetail, std::optional<QString>(detail), LyricsErrorDetailField);
    write(m_lyricsResult, std::optional<LyricsResult>(LyricsResult::notFound()), LyricsResultField);
    write(m_lyricLines, {}, LyricLinesField);
    writeCards({});
    write(m_cardsErrorDetail, {}, CardsErrorDetailField);
    write(m_currentSource, {}, CurrentSourceField);
    write(m_currentLanguage, {}, CurrentLanguageField);
    write(m_notTargetLanguageState, {}, NotTargetLanguageStateField);
    write(m_isLoadingLyrics, false, IsLoadingLyricsField);
    write(m_isLoadingCards, false, IsLoadingCardsField);
    clearActiveCardMemo();
}

void PlayerViewModel::setLyricsNotFound(const LyricsResult &result)
{
    Batch batch(this);
    write(m_lyricsResult, std::optional<LyricsResult>(result), LyricsResultField);
    write(m_errorState, std::optional<CantorellaError>(CantorellaError::lyricsNotFound()), ErrorStateField);
    write(m_lyricLines, {}, LyricLinesField);
    writeCards({});
    write(m_cardsErrorDetail, {}, CardsErrorDetailField);
    write(m_lyricsErrorDetail, {}, LyricsErrorDetailField);
    write(m_currentSource, {}, CurrentSourceField);
    write(m_currentLanguage, {}, CurrentLanguageField);
    write(m_notTargetLanguageState, {}, NotTargetLanguageStateField);
    write(m_isLoadingLyrics, false, IsLoadingLyricsField);
    write(m_isLoadingCards, false, IsLoadingCardsField);
    clearActiveCardMemo();
}

void PlayerViewModel::clearLoadingFlags()
{
    Batch batch(this);
    write(m_isLoadingLyrics, false, IsLoadingLyricsField);
    write(m_isLoadingCards, false, IsLoadingCardsField);
}

void PlayerViewModel::setError(const std::exception &error)
{
    Batch batch(this);
    if (auto player = dynamic_cast<const CantorellaError *>(&error))
        write(m_errorState, std::optional<CantorellaError>(*player), ErrorStateField);
    else
        write(m_errorState, std::optional<CantorellaError>(CantorellaError::unknown(localizedDescription(error))),
              ErrorStateField);
    writeCards({});
}

void PlayerViewModel::toggleLearned(const QString &cardId)
{
    for (qsizetype i = 0; i < m_cards.size(); ++i) {
        if (m_cards.at(i).id == cardId) {
            Batch batch(this);
            // Only `learned` changes: the card ids and times the memo depends on stay, so it is kept.
            m_cards[i].learned = !m_cards.at(i).learned;
            touch(CardsField);
            return;
        }
    }
}

LyricsResult PlayerViewModel::lyricsResultFromRaw(const QString &raw)
{
    if (Text::trimmed(raw).isEmpty())
        return LyricsResult::notFound();
    QList<SyncedLine> lines = LRCParser::parse(raw);
    if (lines.isEmpty())
        return LyricsResult::notFound();
    return LyricsResult::synced(raw, std::move(lines));
}

qsizetype PlayerViewModel::learnedCount() const
{
    return std::count_if(m_cards.cbegin(), m_cards.cend(), [](const LearnedCardVM &card) { return card.learned; });
}

double PlayerViewModel::learnedFraction() const
{
    if (m_cards.isEmpty())
        return 0.0;
    return double(learnedCount()) / double(m_cards.size());
}

double PlayerViewModel::trackProgress() const
{
    if (!m_track || !(m_track->duration > 0.0))
        return 0.0;
    return m_track->elapsed / m_track->duration;
}

double PlayerViewModel::trackElapsed() const
{
    return m_track ? m_track->elapsed : 0.0;
}
