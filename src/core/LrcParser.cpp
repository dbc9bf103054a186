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
    QList<SyncedLine> lines;
    for (QStringView rawLine : Text::split(text, Text::CharSet::newlines)) {
        const QStringView line = Text::trimmedView(rawLine, Text::CharSet::horizontalWhitespace);
        if (line.isEmpty() || holdsOnlyIdTags(line))
            continue;
        const QList<double> times = timestamps(line);
        if (times.isEmpty())
            continue;
        const QString words = leadingText(line);
        for (double time : times)
            lines.append(SyncedLine{time, words});
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const SyncedLine &a, const SyncedLine &b) { return a.timestamp < b.timestamp; });
    return lines;
}

QList<double> LRCParser::timestamps(QStringView line)
{
    QList<double> times;
    QRegularExpressionMatchIterator it = timestampRegex().globalMatch(line);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const std::optional<qint64> minutes = readAsciiNumber(match.capturedView(1));
        const std::optional<qint64> seconds = readAsciiNumber(match.capturedView(2));
        if (!minutes || !seconds)
            continue;
        const QStringView fractionDigits = match.capturedView(3);
        const double fraction = double(readAsciiNumber(fractionDigits).value_or(0));
        const double digits = double(fractionDigits.size());
        times.append(double(*minutes) * 60.0 + double(*seconds) + fraction / std::pow(10.0, digits));
    }
    return times;
}

QString LRCParser::leadingText(QStringView line)
{
    qsizetype cursor = 0;
    QRegularExpressionMatchIterator it = timestampRegex().globalMatch(line);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (match.capturedStart() != cursor)
            break;
        cursor = match.capturedEnd();
    }
    return Text::trimmed(line.sliced(cursor), Text::CharSet::horizontalWhitespace);
}
