// Position extrapolation, lyric offsets and the debounced writes of offsets and preferences.

#include "session/player/PlayerViewModel.h"

#include "core/AppLog.h"
#include "core/store/CardStoreActor.h"

#include <QSettings>

#include <cmath>

QString PlayerViewModel::globalOffsetKey(const QString &prefix)
{
    return QStringLiteral("cantorella.") + prefix + QStringLiteral(".globalOffset");
}

QString PlayerViewModel::nudgeEnabledKey(const QString &prefix)
{
    return QStringLiteral("cantorella.") + prefix + QStringLiteral(".nudgeEnabled");
}

std::optional<double> PlayerViewModel::roundedSongOffset(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double clamped = std::clamp(value, -songOffsetLimit, songOffsetLimit);
    // std::round rounds halves away from zero. The product keeps the grid's floating-point noise
    // (3 steps are 0.15000000000000002), as the stored values do.
    return std::round(clamped / songOffsetStep) * songOffsetStep;
}

void PlayerViewModel::setAnchor(const std::optional<SampleAnchor> &anchor)
{
    Batch batch(this);
    m_anchor = anchor;
    touch(AnchorField);
    if (anchor)
        write(m_anchorDate, m_wallClock->now(), AnchorDateField);
}

double PlayerViewModel::currentElapsed() const
{
    if (!m_anchor) {
        if (m_track)
            return m_track->elapsed;
        return 0.0;
    }
    double dt = double((m_dtClock() - m_anchor->hostTime).count()) / 1e9;
    if (dt < 0.0) {
        qCCritical(lcPlayerViewModel, "ContinuousClock returned negative dt (%f), falling back to QDateTime", dt);
        const double wall = double(m_anchorDate.msecsTo(m_wallClock->now())) / 1000.0;
        dt = wall < 0.0 ? 0.0 : wall;
    }
    return m_anchor->elapsed + dt * m_anchor->rate;
}

double PlayerViewModel::effectiveOffset() const
{
    if (m_trackSongKey) {
        const auto it = m_perSongOffset.constFind(*m_trackSongKey);
        if (it != m_perSongOffset.cend())
            return *it;
    }
    return m_cachedGlobalOffset;
}

void PlayerViewModel::setEffectiveOffset(double value)
{
    if (!m_trackSongKey)
        return;
    const std::optional<double> rounded = roundedSongOffset(value);
    if (!rounded)
        return;
    const QString key = *m_trackSongKey;
    Batch batch(this);
    m_perSongOffset.insert(key, *rounded);
    touch(PerSongOffsetField);

    if (m_offsetDebounceTask)
        m_offsetDebounceTask->cancel();
    CancellationToken token;
    m_offsetDebounceTask = token;
    m_pendingSongOffset = std::make_pair(key, *rounded);
    writeSongOffsetLater(QPointer<PlayerViewModel>(this), m_debounceClock, token, key, *rounded);
}

void PlayerViewModel::resetPerSongOffset()
{
    if (!m_trackSongKey)
        return;
    const QString key = *m_trackSongKey;
    Batch batch(this);
    m_perSongOffset.remove(key);
    touch(PerSongOffsetField);

    if (m_offsetDebounceTask)
        m_offsetDebounceTask->cancel(); // the field keeps the cancelled task
    m_pendingSongOffset.reset();
    if (m_cardStoreActor)
        storeSongOffset(m_cardStoreActor, key, std::nullopt);
}

void PlayerViewModel::applyStoredOffset(const std::optional<double> &offset, const QString &songKey)
{
    Batch batch(this);
    const std::optional<double> rounded = offset ? roundedSongOffset(*offset) : std::nullopt;
    if (rounded)
        m_perSongOffset.insert(songKey, *rounded);
    else
        m_perSongOffset.remove(songKey);
    touch(PerSongOffsetField);
}

void PlayerViewModel::setGlobalOffset(double offset)
{
    if (!std::isfinite(offset))
        return;
    Batch batch(this);
    write(m_cachedGlobalOffset, offset, GlobalOffsetField);
    schedulePreferenceWrite(m_globalOffsetDebounceTask, m_globalOffsetWritePending, Preference::globalOffset);
}

void PlayerViewModel::setNudgeEnabled(bool enabled)
{
    Batch batch(this);
    write(m_cachedNudgeEnabled, enabled, NudgeEnabledField);
    schedulePreferenceWrite(m_nudgeEnabledDebounceTask, m_nudgeEnabledWritePending, Preference::nudgeEnabled);
}

// Restarts the quiet period of one preference: an earlier pending write is dropped, this one
// lands after the pause unless another change comes first.
void PlayerViewModel::schedulePreferenceWrite(std::optional<CancellationToken> &task, bool &pending,
                                              Preference preference)
{
    if (task)
        task->cancel();
    CancellationToken token;
    task = token;
    pending = true;
    writePreferenceLater(QPointer<PlayerViewModel>(this), m_debounceClock, token, preference);
}

void PlayerViewModel::persist(Preference preference)
{
    switch (preference) {
    case Preference::globalOffset:
        m_globalOffsetWritePending = false;
        m_settings->setValue(globalOffsetKey(m_userDefaultsPrefix), m_cachedGlobalOffset);
        break;
    case Preference::nudgeEnabled:
        m_nudgeEnabledWritePending = false;
        m_settings->setValue(nudgeEnabledKey(m_userDefaultsPrefix), m_cachedNudgeEnabled);
        break;
    }
    m_settings->sync();
}

// A model that goes away during the quiet period still stores the last value it was given.
void PlayerViewModel::flushPendingWrites()
{
    for (auto *task : {&m_offsetDebounceTask, &m_globalOffsetDebounceTask, &m_nudgeEnabledDebounceTask})
        if (*task)
            (*task)->cancel();
    if (m_globalOffsetWritePending)
        persist(Preference::globalOffset);
    if (m_nudgeEnabledWritePending)
        persist(Preference::nudgeEnabled);
    if (m_pendingSongOffset && m_cardStoreActor)
        storeSongOffset(m_cardStoreActor, m_pendingSongOffset->first, m_pendingSongOffset->second);
    m_pendingSongOffset.reset();
}

QCoro::Task<void> PlayerViewModel::writeSongOffsetLater(QPointer<PlayerViewModel> model, ContinuousClock *clock,
                                                        CancellationToken token, QString key, double offset)
{
    const std::chrono::nanoseconds delay = debounceDelay;
    try {
        co_await clock->sleepFor(delay, token);
    } catch (const CancelledError &) {
    }
    // Only the last change of a burst gets here uncancelled.
    if (token.isCancelled() || !model)
        co_return;
    model->m_pendingSongOffset.reset();
    std::shared_ptr<CardStoreActor> actor = model->m_cardStoreActor;
    if (!actor)
        co_return;
    auto storing = storeSongOffset(actor, key, offset);
    co_await std::move(storing);
}

QCoro::Task<void> PlayerViewModel::writePreferenceLater(QPointer<PlayerViewModel> model, ContinuousClock *clock,
                                                        CancellationToken token, Preference preference)
{
    const std::chrono::nanoseconds delay = debounceDelay;
    try {
        co_await clock->sleepFor(delay, token);
    } catch (const CancelledError &) {
    }
    if (token.isCancelled() || !model)
        co_return;
    model->persist(preference);
}

QCoro::Task<void> PlayerViewModel::storeSongOffset(std::shared_ptr<CardStoreActor> actor, QString key,
                                                   std::optional<double> offset)
{
    if (!actor)
        co_return;
    // The returned snapshot and any store error are dropped: the in-memory offset stays as set.
    try {
        auto writing = actor->setLyricsOffset(key, offset);
        co_await std::move(writing);
    } catch (...) {
    }
}
