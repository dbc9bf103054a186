// Position extrapolation, lyric offsets and the debounced writes of the songs' offsets.

#include "session/player/PlayerViewModel.h"

#include "core/AppLog.h"
#include "core/store/CardStoreActor.h"
#include "session/player/SongOffsetRules.h"


#include <cmath>

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
    return m_preferences.globalOffset();
}

void PlayerViewModel::setEffectiveOffset(double value)
{
    if (!m_trackSongKey)
        return;
    const std::optional<double> rounded = SongOffsetRules::rounded(value);
    if (!rounded)
        return;
    const QString key = *m_trackSongKey;
    Batch batch(this);
    m_perSongOffset.insert(key, *rounded);
    touch(PerSongOffsetField);

    const double offset = *rounded;
    m_songOffsetWrite.schedule([this, key, offset] { storeSongOffset(m_cardStoreActor, key, offset); });
}

void PlayerViewModel::resetPerSongOffset()
{
    if (!m_trackSongKey)
        return;
    const QString key = *m_trackSongKey;
    Batch batch(this);
    m_perSongOffset.remove(key);
    touch(PerSongOffsetField);

    m_songOffsetWrite.cancel();
    if (m_cardStoreActor)
        storeSongOffset(m_cardStoreActor, key, std::nullopt);
}

void PlayerViewModel::applyStoredOffset(const std::optional<double> &offset, const QString &songKey)
{
    Batch batch(this);
    const std::optional<double> rounded = offset ? SongOffsetRules::rounded(*offset) : std::nullopt;
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
    if (m_preferences.setGlobalOffset(offset))
        touch(GlobalOffsetField);
}

void PlayerViewModel::setNudgeEnabled(bool enabled)
{
    Batch batch(this);
    if (m_preferences.setNudgeEnabled(enabled))
        touch(NudgeEnabledField);
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
