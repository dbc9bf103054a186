// The active line, the word reveal and the active card.

#include "session/player/PlayerViewModel.h"

#include <cmath>

std::optional<qsizetype> PlayerViewModel::activeLineIndex(double t) const
{
    // The lines are sorted by time. Last line with timestamp ≤ t, so of several lines with one
    // time the last wins; a NaN t compares false everywhere and matches nothing.
    qsizetype lo = 0;
    qsizetype hi = m_lyricLines.size() - 1;
    qsizetype best = -1;
    const SyncedLine *lines = m_lyricLines.constData();
    while (lo <= hi) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (lines[mid].timestamp <= t) {
            best = mid;
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    if (best < 0)
        return std::nullopt;
    return best;
}

qsizetype PlayerViewModel::wordCount(QStringView text)
{
    qsizetype words = 0;
    bool inWord = false;
    for (QChar c : text) {
        if (c == QLatin1Char(' ')) {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++words;
        }
    }
    return words;
}

namespace {

qsizetype revealed(QStringView text, double start, double end, double t)
{
    const qsizetype words = PlayerViewModel::wordCount(text);
    if (words == 0 || !(start <= t))
        return 0;
    if (!(end > t))
        return words;
    // 0 ≤ fraction < 1 here, so the truncation is a floor and the count stays ≤ words.
    const double fraction = (t - start) / (end - start);
    return std::min(qsizetype(fraction * double(words)) + 1, words);
}

} // namespace

qsizetype PlayerViewModel::revealedWordCount(qsizetype lineIndex, double t) const
{
    if (lineIndex < 0 || lineIndex >= m_lyricLines.size())
        return 0;
    const SyncedLine &line = m_lyricLines.at(lineIndex);
    const double start = line.timestamp;
    const double end = lineIndex + 1 < m_lyricLines.size() ? m_lyricLines.at(lineIndex + 1).timestamp
                                                            : start + lastLineDuration;
    return revealed(line.text, start, end, t);
}

qsizetype PlayerViewModel::revealedWordCount(const QString &text, double lineTimestamp, double t) const
{
    double end = lineTimestamp + lastLineDuration;
    for (qsizetype i = 0; i < m_lyricLines.size(); ++i) {
        const SyncedLine &line = m_lyricLines.at(i);
        if (line.timestamp == lineTimestamp && line.text == text) {
            if (i + 1 < m_lyricLines.size())
                end = m_lyricLines.at(i + 1).timestamp;
            break;
        }
    }
    return revealed(text, lineTimestamp, end, t);
}

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
