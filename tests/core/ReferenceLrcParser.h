#pragma once

// The LRC parser as it was first written, on regular expressions: slow, but its rules are plain
// to read. The differential test holds the fast parser to exactly its results. Only that test
// includes this header.

#include "core/Lyrics.h"
#include "platform/Text.h"

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringView>

#include <algorithm>
#include <cmath>
#include <optional>

namespace ReferenceLrcParser {

inline const QRegularExpression &idTagRegex()
{
    thread_local const QRegularExpression regex(QStringLiteral("\\[(?:ti|ar|al|length|by|offset):[^\\]]*\\]"),
                                                QRegularExpression::CaseInsensitiveOption);
    return regex;
}

// \d accepts every decimal digit: such a stamp still counts as a stamp (it ends the leading run
// of stamps) but its time does not read.
inline const QRegularExpression &timestampRegex()
{
    thread_local const QRegularExpression regex(QStringLiteral("\\[(\\d{1,3}):(\\d{2})\\.(\\d{1,3})\\]"),
                                                QRegularExpression::UseUnicodePropertiesOption);
    return regex;
}

// A decimal number of ASCII digits only; anything else does not read.
inline std::optional<qint64> readAsciiNumber(QStringView digits)
{
    if (digits.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// The ID-tag matches removed, is anything left?
inline bool holdsOnlyIdTags(QStringView line)
{
    if (!line.contains(QLatin1Char('[')))
        return false;
    QRegularExpressionMatchIterator it = idTagRegex().globalMatch(line);
    if (!it.hasNext())
        return false;
    QString rest;
    qsizetype cursor = 0;
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        rest += line.sliced(cursor, match.capturedStart() - cursor);
        cursor = match.capturedEnd();
    }
    rest += line.sliced(cursor);
    return Text::trimmedView(rest, Text::CharSet::horizontalWhitespace).isEmpty();
}

struct StampMatch
{
    qsizetype start;
    qsizetype end;
    std::optional<double> time; // absent when the digits do not read
};

inline QList<StampMatch> stampMatches(QStringView line)
{
    QList<StampMatch> matches;
    if (!line.contains(QLatin1Char('[')))
        return matches;
    QRegularExpressionMatchIterator it = timestampRegex().globalMatch(line);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        StampMatch stamp{match.capturedStart(), match.capturedEnd(), std::nullopt};
        const std::optional<qint64> minutes = readAsciiNumber(match.capturedView(1));
        const std::optional<qint64> seconds = readAsciiNumber(match.capturedView(2));
        if (minutes && seconds) {
            const QStringView fractionDigits = match.capturedView(3);
            const double fraction = double(readAsciiNumber(fractionDigits).value_or(0));
            const double digits = double(fractionDigits.size());
            stamp.time = double(*minutes) * 60.0 + double(*seconds) + fraction / std::pow(10.0, digits);
        }
        matches.append(stamp);
    }
    return matches;
}

inline QList<double> timesOf(const QList<StampMatch> &matches)
{
    QList<double> times;
    for (const StampMatch &match : matches)
        if (match.time)
            times.append(*match.time);
    return times;
}

inline QString leadingTextOf(QStringView line, const QList<StampMatch> &matches)
{
    qsizetype cursor = 0;
    for (const StampMatch &match : matches) {
        if (match.start != cursor)
            break;
        cursor = match.end;
    }
    return Text::trimmed(line.sliced(cursor), Text::CharSet::horizontalWhitespace);
}

inline QList<SyncedLine> parse(const QString &text)
{
    const QString repaired = Text::withLoneSurrogatesReplaced(text);
    QList<SyncedLine> lines;
    for (QStringView rawLine : Text::split(repaired, Text::CharSet::newlines)) {
        const QStringView line = Text::trimmedView(rawLine, Text::CharSet::horizontalWhitespace);
        if (line.isEmpty() || holdsOnlyIdTags(line))
            continue;
        const QList<StampMatch> matches = stampMatches(line);
        const QList<double> times = timesOf(matches);
        if (times.isEmpty())
            continue;
        const QString words = leadingTextOf(line, matches);
        for (double time : times)
            lines.append(SyncedLine{time, words});
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const SyncedLine &a, const SyncedLine &b) { return a.timestamp < b.timestamp; });
    return lines;
}

inline QList<double> timestamps(QStringView line)
{
    return timesOf(stampMatches(line));
}

inline QString leadingText(QStringView line)
{
    return leadingTextOf(line, stampMatches(line));
}

} // namespace ReferenceLrcParser
