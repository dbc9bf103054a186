#include "core/ShareCardContent.h"

#include <cmath>
#include <limits>

ShareCardContent ShareCardContent::build(const Input &input)
{
    ShareCardContent content;
    content.id = QUuid::createUuid();
    content.phrase = input.phrase;
    content.translation = input.translation;
    content.example = input.example;
    content.tag = input.tag;
    content.pronunciationHint = input.pronunciationHint;
    content.lineTimestamp = input.lineTimestamp;
    content.songTitle = input.songTitle;
    content.songArtist = input.songArtist;
    // A note of white space only stays; an empty one is none.
    if (input.note && !input.note->isEmpty())
        content.note = input.note;
    if (input.culturalHint && !input.culturalHint->trimmed().isEmpty())
        content.culturalHint = input.culturalHint;

    if (const auto match = resolveHeroLine(input.lineTimestamp, input.lines, 1, input.tolerance)) {
        content.heroLine = match->heroLine;
        content.previousLyricLines = match->previousLines;
        content.heroIsFallback = false;
    } else {
        content.heroLine = input.example;
        content.heroIsFallback = true;
    }
    return content;
}

std::optional<ShareCardContent::HeroMatch>
ShareCardContent::resolveHeroLine(std::optional<double> time, const QList<SyncedLine> &lines, int previousCount,
                                  double tolerance)
{
    if (!time || lines.isEmpty())
        return std::nullopt;
    const double t = *time;

    qsizetype chosen = -1;
    double bestDistance = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const double d = std::abs(lines.at(i).timestamp - t);
        // A NaN distance fails both comparisons, so it never qualifies.
        if (!(d <= tolerance))
            continue;
        if (chosen < 0 || d < bestDistance) {
            chosen = i;
            bestDistance = d;
        }
    }
    if (chosen < 0) {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const double stamp = lines.at(i).timestamp;
            if (!(stamp <= t))
                continue;
            if (chosen < 0 || stamp > lines.at(chosen).timestamp)
                chosen = i;
        }
    }
    if (chosen < 0)
        return std::nullopt;

    HeroMatch match;
    const qsizetype first = std::max<qsizetype>(chosen - std::max(previousCount, 0), 0);
    for (qsizetype i = first; i < chosen; ++i) {
        if (!lines.at(i).text.isEmpty())
            match.previousLines.append(lines.at(i).text);
    }
    match.heroLine = lines.at(chosen).text;
    return match;
}

QString ShareCardContent::formatTimestamp(double seconds)
{
    // Clamp before rounding so no value leaves the range of the integer it becomes.
    constexpr double maxSeconds = double(std::numeric_limits<int>::max());
    if (std::isnan(seconds) || seconds < 0)
        seconds = 0;
    seconds = std::min(seconds, maxSeconds);
    const qint64 s = std::llround(seconds);
    return QString::asprintf("%lld:%02lld", s / 60, s % 60);
}
