#include "NowViewController.h"

#include "EndOfSongWrapUp.h"
#include "NowViewControllerTrace.h"
#include "core/LearnedCardVM.h"
#include "core/store/LearnedCard.h"
#include "ui/design/FrameClock.h"

using namespace NowViewTrace;


NowViewController::NowViewController(QObject *parent)
    : QObject(parent)
{
    connect(&m_guard, &UserScrollGuard::trackingChanged, this, &NowViewController::onTrackingChanged);
}

NowViewController::~NowViewController()
{
    if (m_playbackTask)
        m_playbackTask->cancel();
}

void NowViewController::componentComplete()
{
    m_completed = true;
    rewatch();
    probe().trace(QStringLiteral("NowView.task.refreshCurrentRecord"), {}, 1);
    refreshCurrentRecord();
    rebuildCaches();
    // The baseline every later change is compared with: handlers never run for first values.
    sync();
    startPlaybackTask();
}

// ---- inputs -----------------------------------------------------------------------------------

void NowViewController::setVm(PlayerViewModel *vm)
{
    if (m_vm == vm)
        return;
    m_vm = vm;
    rewatch();
    emit inputsChanged();
}

void NowViewController::setCardStore(CardStore *store)
{
    if (m_cardStore == store)
        return;
    m_cardStore = store;
    rewatch();
    emit inputsChanged();
}

void NowViewController::setCardLighting(CardLightingCoordinator *lighting)
{
    if (m_cardLighting == lighting)
        return;
    m_cardLighting = lighting;
    rewatch();
    emit inputsChanged();
}

void NowViewController::setClocks(ClockHandle *clocks)
{
    if (m_clocks == clocks)
        return;
    m_clocks = clocks;
    m_guard.setClock(clock());
    emit inputsChanged();
    if (m_completed)
        startPlaybackTask();
}

void NowViewController::setLockedSong(SongRecord *song)
{
    if (m_lockedSong == song)
        return;
    m_lockedSong = song;
    rewatch();
    emit inputsChanged();
    scheduleSync();
}

void NowViewController::rewatch()
{
    if (!m_completed)
        return;
    for (const auto &c : std::as_const(m_inputConnections))
        disconnect(c);
    m_inputConnections.clear();
    const auto watch = [this](auto *sender, auto signal) {
        if (sender)
            m_inputConnections << connect(sender, signal, this, &NowViewController::scheduleSync);
    };
    PlayerViewModel *vm = m_vm;
    watch(vm, &PlayerViewModel::trackChanged);
    watch(vm, &PlayerViewModel::songSessionIdChanged);
    watch(vm, &PlayerViewModel::cardsChanged);
    watch(vm, &PlayerViewModel::errorStateChanged);
    watch(vm, &PlayerViewModel::cardsErrorDetailChanged);
    watch(vm, &PlayerViewModel::isLoadingCardsChanged);
    watch(vm, &PlayerViewModel::notTargetLanguageStateChanged);
    watch(vm, &PlayerViewModel::lyricLinesChanged);
    watch(m_cardLighting.data(), &CardLightingCoordinator::modeChanged);
    watch(m_cardStore.data(), &CardStore::externalChangesMerged);
    watch(m_lockedSong.data(), &QObject::destroyed);
    scheduleSync();
}

ContinuousClock *NowViewController::clock() const
{
    return m_clocks ? m_clocks->continuous() : ContinuousClock::system();
}

std::optional<QString> NowViewController::trackSongKey() const
{
    if (!m_vm || !m_vm->track())
        return std::nullopt;
    return m_vm->track()->songKey();
}

// ---- derived values ---------------------------------------------------------------------------

SongRecord *NowViewController::displayedRecord() const
{
    if (m_lockedSong)
        return m_lockedSong->isDeleted() ? nullptr : m_lockedSong.data();
    if (!m_currentPlayingRecord || m_currentPlayingRecord->isDeleted())
        return nullptr;
    const std::optional<QString> key = trackSongKey();
    return key && m_currentPlayingRecord->key() == *key ? m_currentPlayingRecord.data() : nullptr;
}

int NowViewController::listContent() const
{
    if (m_vm && m_vm->notTargetLanguageState())
        return NotTargetLanguage;
    if (!m_rows.rows().isEmpty())
        return Cards;
    if (!m_lockedSong && m_vm && m_vm->track() && m_vm->errorState()
        && m_vm->errorState()->kind() == CantorellaError::Kind::cardsUnavailable)
        return CardsError;
    if (m_vm && m_vm->isLoadingCards())
        return Loading;
    return Empty;
}

QString NowViewController::masteredText() const
{
    const auto mastered = std::count_if(m_sortedCards.cbegin(), m_sortedCards.cend(),
                                        [](const LearnedCard *card) { return card->isMastered(); });
    return QStringLiteral("已掌握 %1/%2").arg(mastered).arg(m_sortedCards.size());
}

double NowViewController::masteredFraction() const
{
    if (m_sortedCards.isEmpty())
        return 0;
    const auto mastered = std::count_if(m_sortedCards.cbegin(), m_sortedCards.cend(),
                                        [](const LearnedCard *card) { return card->isMastered(); });
    return double(mastered) / double(m_sortedCards.size());
}

QString NowViewController::notTargetLanguage() const
{
    return m_vm ? m_vm->notTargetLanguageState().value_or(QString()) : QString();
}

QString NowViewController::cardsErrorText(const std::optional<QString> &detail)
{
    return detail.value_or(QStringLiteral("LLM 服务暂时不可用，请稍后重试。"));
}

QString NowViewController::cardsErrorText() const
{
    return cardsErrorText(m_vm ? m_vm->cardsErrorDetail() : std::nullopt);
}

bool NowViewController::wrapUpDueAt(double elapsed) const
{
    return EndOfSongWrapUp::shouldShow(m_vm ? m_vm->track() : std::nullopt, !m_lockedSong, elapsed);
}

bool NowViewController::showWrapUp() const
{
    return listContent() == Cards && wrapUpDueAt(m_cardElapsedSnapshot);
}

QString NowViewController::wrapUpHeadline() const
{
    return EndOfSongWrapUp::headline(m_newlyMasteredIds.size());
}

std::optional<QString> NowViewController::computeActiveSlotId(double elapsed) const
{
    probe().trace(QStringLiteral("NowView.computeActiveSlotId"),
                  QStringLiteral("elapsed=%1 slots=%2").arg(elapsed, 0, 'f', 2).arg(m_slots.size()), 20);
    if (m_lockedSong)
        return std::nullopt;
    SongRecord *shown = displayedRecord();
    if (!shown || !m_currentPlayingRecord || shown->id() != m_currentPlayingRecord->id())
        return std::nullopt;
    if (m_cardLighting && m_cardLighting->mode().manualCardId()) {
        const QString &picked = *m_cardLighting->mode().manualCardId();
        for (const CardSlot &slot : m_slots) {
            if (slot.cardId == picked)
                return slot.slotId;
        }
    }
    return CardSlotExpander::activeSlotId(m_slots, elapsed);
}

// ---- the sync: handlers on final values -------------------------------------------------------

void NowViewController::scheduleSync()
{
    if (m_syncPending || !m_completed)
        return;
    m_syncPending = true;
    QMetaObject::invokeMethod(this, &NowViewController::sync, Qt::QueuedConnection);
}

void NowViewController::sync()
{
    m_syncPending = false;
    if (!m_completed)
        return;
    const bool first = !m_seen;
    Seen seen = m_seen.value_or(Seen{});
    const bool locked = m_lockedSong;
    const std::optional<QString> key = trackSongKey();

    const bool lockChanged = !first && seen.lockedSong != m_lockedSong;
    if (lockChanged) {
        seen.lockedSong = m_lockedSong;
        // Back to the playing song: the record may have changed while the lock held.
        if (!locked)
            refreshCurrentRecord();
    }
    if (!first && key != seen.trackSongKey) {
        // The counting bookkeeping is reset first, so the record read below seeds the baseline
        // of the new song.
        probe().trace(QStringLiteral("NowView.onChange.masteredSongKey"), orNil(key), 1);
        resetNewlyMastered(key);
        probe().trace(QStringLiteral("NowView.onChange.trackSongKey"), orNil(key), 1);
        probe().setState(QStringLiteral("track.songKey"), orNil(key));
        if (!locked) {
            m_lastActiveSlotId.reset();
            m_activeSlotId.reset();
            m_currentCardActiveLineIndex.reset();
            m_cardElapsedSnapshot = 0;
            m_currentPlayingRecord = nullptr;
            m_sortedCardsHash.reset();
            m_slotKey.reset();
            m_guard.resumeTracking();
            refreshCurrentRecord();
        }
    }
    seen.trackSongKey = key;

    const qsizetype cardsCount = m_vm ? m_vm->cards().size() : 0;
    if (!first && cardsCount != seen.cardsCount) {
        probe().trace(QStringLiteral("NowView.onChange.vmCardsCount"), QString::number(cardsCount), 1);
        if (!locked)
            refreshCurrentRecord();
    }
    seen.cardsCount = cardsCount;

    const std::optional<CantorellaError> error = m_vm ? m_vm->errorState() : std::nullopt;
    if (!first && error != seen.errorState) {
        probe().trace(QStringLiteral("NowView.onChange.errorState"),
                      error ? error->description() : QStringLiteral("nil"), 1);
        if (!locked)
            refreshCurrentRecord();
    }
    seen.errorState = error;

    // A freed or deleted record, or a deleted card of it: read the playing record again.
    if (!locked && m_vm && m_vm->track()) {
        const bool recordGone = !m_currentPlayingRecord || m_currentPlayingRecord->isDeleted();
        const bool cardGone = std::any_of(m_sortedCards.cbegin(), m_sortedCards.cend(),
                                          [](LearnedCard *card) { return card->isDeleted(); });
        if (recordGone || cardGone)
            refreshCurrentRecord();
    }

    SongRecord *shown = displayedRecord();
    const QList<LearnedCard *> cards = NowViewRules::liveCards(shown);
    const size_t signature = shown ? NowViewRules::masteredSignature(cards) : 0;
    if (!first && signature != seen.masteredSignature) {
        probe().trace(QStringLiteral("NowView.onChange.masteredSignature"), {}, 1);
        countNewlyMastered();
    }
    seen.masteredSignature = signature;

    const LightingMode mode = m_cardLighting ? m_cardLighting->mode() : LightingMode::automatic();

    const quint64 session = m_vm ? m_vm->songSessionId() : 0;
    const bool sessionChanged = !first && session != seen.songSessionId;
    seen.songSessionId = session;

    const size_t hash = shown ? NowViewRules::cardsHash(cards) : 0;
    const SlotCacheKey slotKey{shown ? shown->key() : QString(), hash};
    const bool slotsChanged = !first && slotKey != seen.slotKey;
    if (!first && hash != seen.cardsHash)
        probe().trace(QStringLiteral("NowView.onChange.cardsHash"), QString::number(hash), 1);
    if (!first && slotKey != seen.slotKey)
        probe().trace(QStringLiteral("NowView.onChange.slotCacheKey"),
                      slotKey.recordId + QStringLiteral(" cardsHash=") + QString::number(hash), 1);
    seen.cardsHash = hash;
    seen.slotKey = slotKey;
    rebuildCaches();

    if (!first && mode != seen.mode) {
        probe().trace(QStringLiteral("NowView.onChange.cardLightingMode"), modeText(mode), 1);
        setActiveSlotId(computeActiveSlotId(m_cardElapsedSnapshot));
    }
    seen.mode = mode;

    if (sessionChanged) {
        probe().trace(QStringLiteral("NowView.onChange.songSessionId"), QString::number(session), 1);
        probe().setState(QStringLiteral("cards.songSessionId"), QString::number(session));
        // Offsets move by themselves while a new song's list is rebuilt.
        m_guard.restartGuardTime();
        handleSongRestart(key, session, m_cardElapsedSnapshot);
        refreshCardPlaybackSnapshot(true);
        // The playback task is keyed on the session: a new session starts it afresh.
        startPlaybackTask();
    } else if (slotsChanged || lockChanged) {
        // New slots or a new record: the lit slot is computed over them. A lock on the playing
        // song lights nothing; released, its slots are the same, yet the slot at the position
        // lights now, not at the next line (never, while paused).
        setActiveSlotId(computeActiveSlotId(m_cardElapsedSnapshot));
    }

    const std::optional<QString> firstSlot =
        m_rows.rows().isEmpty() ? std::nullopt : std::optional<QString>(m_rows.rows().first().slot.slotId);
    const bool firstSlotChanged = !first && firstSlot != seen.firstSlotId;
    seen.firstSlotId = firstSlot;
    if (first)
        seen.lockedSong = m_lockedSong;
    m_seen = seen;
    if (firstSlotChanged)
        onFirstSlotChanged();

    for (const auto &c : std::as_const(m_recordConnections))
        disconnect(c);
    m_recordConnections.clear();
    if (shown) {
        m_recordConnections << connect(shown, &SongRecord::cardsChanged, this, &NowViewController::scheduleSync);
        m_recordConnections << connect(shown, &QObject::destroyed, this, &NowViewController::scheduleSync);
        for (LearnedCard *card : cards) {
            for (auto signal : {&LearnedCard::isMasteredChanged, &LearnedCard::lineTimestampChanged,
                                &LearnedCard::cardIdChanged})
                m_recordConnections << connect(card, signal, this, &NowViewController::scheduleSync);
            m_recordConnections << connect(card, &QObject::destroyed, this, &NowViewController::scheduleSync);
        }
    }
    publishRows();
    redraw();
}

void NowViewController::redraw()
{
    probe().trace(QStringLiteral("NowView.body"),
                  QStringLiteral("track=%1 slots=%2 active=%3")
                      .arg(orNil(trackSongKey()))
                      .arg(m_slots.size())
                      .arg(orNil(m_activeSlotId)),
                  20);
    if (listContent() == Cards)
        probe().trace(QStringLiteral("NowView.cardListContent"),
                      QStringLiteral("slots=%1 sorted=%2 active=%3")
                          .arg(m_slots.size())
                          .arg(m_sortedCards.size())
                          .arg(orNil(m_activeSlotId)),
                      20);
    emit changed();
}

// ---- the record and its cards -----------------------------------------------------------------

void NowViewController::refreshCurrentRecord()
{
    if (!m_vm || !m_vm->track()) {
        m_currentPlayingRecord = nullptr;
        m_lastMasteredStateById.clear();
        return;
    }
    const QString key = m_vm->track()->songKey();
    SongRecord *record = nullptr;
    if (m_cardStore) {
        try {
            record = m_cardStore->record(key);
        } catch (const std::exception &) {
            record = nullptr;
        }
    }
    if (record && record->isDeleted())
        record = nullptr;
    m_currentPlayingRecord = record;
    // A tab built mid-song counts that song's masteries from the first record it reads.
    if (!m_newlyMasteredKey)
        m_newlyMasteredKey = key;
    if (!record)
        return;
    if (m_lastMasteredStateById.isEmpty()) {
        for (const LearnedCard *card : NowViewRules::liveCards(record))
            m_lastMasteredStateById.insert(card->id(), card->isMastered());
    }
}

void NowViewController::resetNewlyMastered(const std::optional<QString> &key)
{
    m_newlyMasteredKey = key;
    m_newlyMasteredIds.clear();
    m_lastMasteredStateById.clear();
}

void NowViewController::countNewlyMastered()
{
    const std::optional<QString> key = trackSongKey();
    SongRecord *shown = displayedRecord();
    // Only the playing song's record counts: a song locked for browsing never does.
    if (!m_newlyMasteredKey || !key || *key != *m_newlyMasteredKey || !shown || m_lockedSong
        || shown != m_currentPlayingRecord)
        return;
    const QList<LearnedCard *> cards = NowViewRules::liveCards(shown);
    if (cards.isEmpty())
        return;
    for (const LearnedCard *card : cards) {
        const auto seen = m_lastMasteredStateById.constFind(card->id());
        if (seen != m_lastMasteredStateById.cend() && !*seen && card->isMastered())
            m_newlyMasteredIds.insert(card->id());
        m_lastMasteredStateById.insert(card->id(), card->isMastered());
    }
}

void NowViewController::rebuildCaches()
{
    SongRecord *shown = displayedRecord();
    if (!shown) {
        m_sortedCardsHash.reset();
        m_sortedCards.clear();
        m_slotKey.reset();
        m_slots.clear();
        m_rows.clear();
        return;
    }
    QList<LearnedCard *> cards = NowViewRules::liveCards(shown);
    const size_t hash = NowViewRules::cardsHash(cards);
    const SlotCacheKey key{shown->key(), hash};
    if (m_sortedCardsHash != hash || m_sortedCards.size() != cards.size()
        || std::any_of(m_sortedCards.cbegin(), m_sortedCards.cend(), [&cards](LearnedCard *c) {
               return !cards.contains(c);
           })) {
        LearnedCardVM::sortByLineTimestamp(cards);
        m_sortedCards = cards;
        m_sortedCardsHash = hash;
    }
    if (m_slotKey != key) {
        m_slots = CardSlotExpander::expand(m_sortedCards);
        m_slotKey = key;
    }
    m_rows.setSlots(key, m_slots, NowViewRules::cardsById(m_sortedCards));
}

void NowViewController::publishRows()
{
    CardSlotRowsModel::Playback playback;
    playback.activeSlotId = m_activeSlotId;
    playback.dimUnlit = (m_vm && !m_vm->lyricLines().isEmpty()) || m_activeSlotId.has_value();
    playback.upcoming = NowViewRules::nextTimedCard(m_sortedCards, m_cardElapsedSnapshot);
    playback.elapsed = m_cardElapsedSnapshot;
    m_rows.publish(playback);
}

// ---- playback ---------------------------------------------------------------------------------

void NowViewController::startPlaybackTask()
{
    if (m_playbackTask)
        m_playbackTask->cancel();
    if (!m_completed)
        return;
    m_playbackTask = CancellationToken();
    probe().trace(QStringLiteral("NowView.cardPlaybackTask.start"),
                  QStringLiteral("session=%1").arg(m_vm ? m_vm->songSessionId() : 0), 1);
    refreshCardPlaybackSnapshot(true);
    playbackLoop(this, clock(), *m_playbackTask);
    followLineOnTicks();
}

// While the frame clock runs, a new lyric line is taken on the first tick after it starts, the
// tick on which the lyrics view takes it too: the lit card and the lit line change in one frame.
// The 0.2 s samples still decide everything else (the wrap-up, a restart, a seek within a line).
void NowViewController::followLineOnTicks()
{
    disconnect(m_lineTickConnection);
    m_lineTickConnection = {};
    auto *frames = m_clocks ? qobject_cast<FrameClock *>(m_clocks->frameClock()) : nullptr;
    if (!frames)
        return;
    m_lineTickConnection = connect(frames, &FrameClock::ticked, this, [this] {
        if (m_vm && m_vm->activeLineIndex(m_vm->displayedElapsed()) != m_currentCardActiveLineIndex)
            refreshCardPlaybackSnapshot(false);
    });
}

QCoro::Task<void> NowViewController::playbackLoop(QPointer<NowViewController> self, ContinuousClock *clock,
                                                  CancellationToken token)
{
    const auto tick = std::chrono::nanoseconds(qint64(tickSeconds * 1e9));
    while (!token.isCancelled()) {
        try {
            co_await clock->sleepUntil(clock->now() + tick, token);
        } catch (const CancelledError &) {
            co_return;
        }
        if (!self || token.isCancelled())
            co_return;
        auto *frames = self->m_clocks ? qobject_cast<FrameClock *>(self->m_clocks->frameClock()) : nullptr;
        FrameClock::atNextTickOf(frames, self, [self] {
            if (self)
                self->refreshCardPlaybackSnapshot(false);
        });
    }
}

void NowViewController::refreshCardPlaybackSnapshot(bool force)
{
    if (!m_vm)
        return;
    const double t = m_vm->currentElapsed() + m_vm->effectiveOffset();
    const std::optional<qsizetype> line = m_vm->activeLineIndex(t);
    handleSongRestart(trackSongKey(), m_vm->songSessionId(), t);
    // The wrap-up appears within one tick of its time, not only at a line change.
    if (!force && line == m_currentCardActiveLineIndex && wrapUpDueAt(t) == wrapUpDueAt(m_cardElapsedSnapshot))
        return;
    probe().trace(QStringLiteral("NowView.refreshCardPlaybackSnapshot.publish"),
                  QStringLiteral("force=%1 line=%2 elapsed=%3")
                      .arg(traceBool(force),
                           line ? QStringLiteral("Optional(%1)").arg(*line) : QStringLiteral("nil"))
                      .arg(t, 0, 'f', 2),
                  1);
    m_cardElapsedSnapshot = t;
    m_currentCardActiveLineIndex = line;
    setActiveSlotId(computeActiveSlotId(t));
    publishRows();
    redraw();
}

void NowViewController::setActiveSlotId(const std::optional<QString> &id)
{
    if (id == m_activeSlotId)
        return;
    const std::optional<QString> previous = m_lastActiveSlotId;
    m_activeSlotId = id;
    onActiveSlotChanged(previous);
    publishRows();
    redraw();
}

void NowViewController::toggleSongFavorite()
{
    SongRecord *song = displayedRecord();
    if (!song || !m_cardStore || song->isDeleted())
        return;
    // On the store's background writer; a failure is announced by the store.
    m_cardStore->requestToggleFavorite(song);
}
