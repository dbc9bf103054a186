#include "session/player/LyricLineTiming.h"

#include <algorithm>

namespace LyricLineTiming {

std::optional<qsizetype> activeLineIndex(const QList<SyncedLine> &lines, double t)
{
    // Last line with timestamp ≤ t, so of several lines with one time the last wins; a NaN t
    // compares false everywhere and matches nothing.
    qsizetype lo = 0;
    qsizetype hi = lines.size() - 1;
    qsizetype best = -1;
    const SyncedLine *data = lines.constData();
    while (lo <= hi) {
        const qsizetype mid = lo + (hi - lo) / 2;
        if (data[mid].timestamp <= t) {
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

qsizetype wordCount(QStringView text)
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
    const qsizetype words = wordCount(text);
    if (words == 0 || !(start <= t))
        return 0;
    if (!(end > t))
        return words;
    // 0 ≤ fraction < 1 here, so the truncation is a floor and the count stays ≤ words.
    const double fraction = (t - start) / (end - start);
    return std::min(qsizetype(fraction * double(words)) + 1, words);
}

} // namespace

qsizetype revealedWordCount(const QList<SyncedLine> &lines, qsizetype lineIndex, double t)
{
    if (lineIndex < 0 || lineIndex >= lines.size())
        return 0;
    const SyncedLine &line = lines.at(lineIndex);
    const double start = line.timestamp;
    const double end = lineIndex + 1 < lines.size() ? lines.at(lineIndex + 1).timestamp : start + lastLineDuration;
    return revealed(line.text, start, end, t);
}

qsizetype revealedWordCount(const QList<SyncedLine> &lines, const QString &text, double lineTimestamp, double t)
{
    double end = lineTimestamp + lastLineDuration;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const SyncedLine &line = lines.at(i);
        if (line.timestamp == lineTimestamp && line.text == text) {
            if (i + 1 < lines.size())
                end = lines.at(i + 1).timestamp;
            break;
        }
    }
    return revealed(text, lineTimestamp, end, t);
}

} // namespace LyricLineTiming
