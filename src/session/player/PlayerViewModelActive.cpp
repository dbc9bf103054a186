// The active card, memoised per song and line.

#include "session/player/PlayerViewModel.h"

std::optional<QString> PlayerViewModel::activeCardId(double t)
{
    const std::optional<qsizetype> line = m_lyricLines.isEmpty() ? std::nullopt : activeLineIndex(t);
    if (!line || !m_trackSongKey) {
        m_activeCardIdCache.reset();
        return std::nullopt;
    }
    ActiveCardCacheKey key{*m_trackSongKey, *line};
    if (m_activeCardIdCache && m_activeCardIdCache->first == key)
        return m_activeCardIdCache->second;

    const double start = m_lyricLines.at(*line).timestamp;
    const qsizetype chosen = CardLightingRule::pick(m_cards, start, [](const LearnedCardVM &card) {
        return card.lineTimestamp;
    });
    std::optional<QString> result;
    if (chosen >= 0)
        result = m_cards.at(chosen).id;
    m_activeCardIdCache = ActiveCardMemo{std::move(key), result};
    return result;
}
