#include "core/LrcParser.h"

#include "platform/Text.h"

#include <algorithm>
#include <cmath>

namespace {

// The order of the alternation does not change what matches; a fixed order keeps the pattern
// text stable.
const QStringList &idTagKeys()
{
    static const QStringList keys{QStringLiteral("ti"), QStringLiteral("ar"), QStringLiteral("al"),
                                  QStringLiteral("length"), QStringLiteral("by"), QStringLiteral("offset")};
    return keys;
}

// Compiled once per thread: a QRegularExpression is reentrant, not documented as safe to share.
const QRegularExpression &idTagRegex()
{
    thread_local const QRegularExpression regex(LRCParser::idTagPattern(), QRegularExpression::CaseInsensitiveOption);
    return regex;
}

// \d must accept every decimal digit, as the stamps of some files carry non-ASCII ones: such a
// stamp still counts as a stamp (it ends the leading run of stamps) but its time does not read.
const QRegularExpression &timestampRegex()
{
    thread_local const QRegularExpression regex(LRCParser::timestampPattern(),
                                                QRegularExpression::UseUnicodePropertiesOption);
    return regex;
}

// A decimal number of ASCII digits only; anything else does not read.
std::optional<qint64> readAsciiNumber(QStringView digits)
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
bool holdsOnlyIdTags(QStringView line)
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

// Every match of the stamp pattern, left to right, with its time.
QList<StampMatch> stampMatches(QStringView line)
{
    QList<StampMatch> matches;
    // No stamp without an opening bracket: skip the regular expression for plain lines.
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
            // minutes × 60, plus seconds, plus the fraction part, in that order.
            stamp.time = double(*minutes) * 60.0 + double(*seconds) + fraction / std::pow(10.0, digits);
        }
        matches.append(stamp);
    }
    return matches;
}

QList<double> timesOf(const QList<StampMatch> &matches)
{
    QList<double> times;
    for (const StampMatch &match : matches)
        if (match.time)
            times.append(*match.time);
    return times;
}

QString leadingTextOf(QStringView line, const QList<StampMatch> &matches)
{
    qsizetype cursor = 0;
    for (const StampMatch &match : matches) {
        if (match.start != cursor)
            break;
        cursor = match.end;
    }
    return Text::trimmed(line.sliced(cursor), Text::CharSet::horizontalWhitespace);
}

} // namespace

const QSet<QString> &LRCParser::idTags()
{
    static const QSet<QString> tags(idTagKeys().cbegin(), idTagKeys().cend());
    return tags;
}

QString LRCParser::idTagPattern()
{
    return QStringLiteral("\\[(?:") + idTagKeys().join(QLatin1Char('|')) + QStringLiteral("):[^\\]]*\\]");
}

QString LRCParser::timestampPattern()
{
    return QStringLiteral("\\[(\\d{1,3}):(\\d{2})\\.(\\d{1,3})\\]");
}

QList<SyncedLine> LRCParser::parse(const QString &text)
{
    // An unpaired surrogate would make every pattern fail on its line and drop it silently.
    const QString repaired = Text::withLoneSurrogatesReplaced(text);
    QList<SyncedLine> lines;
    for (QStringView rawLine : Text::split(repaired, Text::CharSet::newlines)) {
        const QStringView line = Text::trimmedView(rawLine, Text::CharSet::horizontalWhitespace);
        if (line.isEmpty() || holdsOnlyIdTags(line))
            continue;
        // One pass of the stamp pattern serves both the times and the text.
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

QList<double> LRCParser::timestamps(QStringView line)
{
    return timesOf(stampMatches(line));
}

QString LRCParser::leadingText(QStringView line)
{
    return leadingTextOf(line, stampMatches(line));
}
