#include "session/nowplaying/MprisReaderOutput.h"

#include "platform/Text.h"

#include <QDate>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <charconv>

namespace MprisReaderOutput {
namespace {

// 1 January 2001, 00:00 UTC, in seconds since 1970. A `ts` at or before it is not trusted for
// carrying the position forward.
constexpr double referenceDate = 978307200.0;

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

std::optional<int> digitsAt(QStringView text, qsizetype pos, int count)
{
    if (pos + count > text.size())
        return std::nullopt;
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = text[pos + i];
        if (!isAsciiDigit(c))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

std::optional<double> parseAscii(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() > 0x7f)
            return std::nullopt;
        bytes.append(char(c.unicode()));
    }
    double value = 0;
    const char *end = bytes.constData() + bytes.size();
    const auto [stop, error] = std::from_chars(bytes.constData(), end, value);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

// A whole string that is a decimal number in the C locale's syntax; no white space around it.
std::optional<double> parseDecimal(QStringView text)
{
    if (text.startsWith(QLatin1Char('+'))) {
        text = text.mid(1);
        if (text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-')))
            return std::nullopt;
    }
    if (text.isEmpty())
        return std::nullopt;
    return parseAscii(text);
}

std::optional<QString> nonEmptyString(const QJsonValue &value)
{
    if (!value.isString() || value.toString().isEmpty())
        return std::nullopt;
    return value.toString();
}

double numberOrZero(const QJsonValue &value)
{
    return value.isDouble() ? value.toDouble() : 0.0;
}

// A wall-clock instant of the reader's, on the continuous clock. An instant after the sample
// date (the wall clock was stepped) counts as the sample instant.
ContinuousInstant placed(double wallSeconds, ContinuousInstant sampleInstant, double sampleDate)
{
    const double before = sampleDate - wallSeconds;
    if (!(before > 0))
        return sampleInstant;
    return sampleInstant - std::chrono::nanoseconds(qint64(before * 1e9));
}

std::optional<PositionRead::Watch> watchOf(const QJsonValue &value, ContinuousInstant sampleInstant,
                                           double sampleDate)
{
    const QJsonObject watch = value.toObject();
    const QJsonValue held = watch.value(QLatin1String("held"));
    const QJsonValue from = watch.value(QLatin1String("from"));
    if (!held.isDouble() || held.toDouble() < 0 || !from.isDouble())
        return std::nullopt;
    PositionRead::Watch result;
    result.held = held.toInt();
    result.from = placed(from.toDouble(), sampleInstant, sampleDate);
    const QJsonValue moved = watch.value(QLatin1String("e"));
    const QJsonValue to = watch.value(QLatin1String("to"));
    if (moved.isDouble() && to.isDouble()) {
        result.moved = moved.toDouble();
        result.to = placed(to.toDouble(), sampleInstant, sampleDate);
    }
    return result;
}

} // namespace

std::optional<double> parseInternetDateTime(QStringView s)
{
    const auto year = digitsAt(s, 0, 4);
    const auto month = digitsAt(s, 5, 2);
    const auto day = digitsAt(s, 8, 2);
    const auto hour = digitsAt(s, 11, 2);
    const auto minute = digitsAt(s, 14, 2);
    const auto second = digitsAt(s, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || s[4] != QLatin1Char('-')
        || s[7] != QLatin1Char('-') || s[10] != QLatin1Char('T') || s[13] != QLatin1Char(':')
        || s[16] != QLatin1Char(':'))
        return std::nullopt;

    qsizetype pos = 19;
    double fraction = 0;
    if (pos < s.size() && s[pos] == QLatin1Char('.')) {
        const qsizetype start = pos;
        ++pos;
        while (pos < s.size() && isAsciiDigit(s[pos]))
            ++pos;
        if (pos == start + 1)
            return std::nullopt;
        // "0" + ".250" keeps every digit given, not just milliseconds.
        fraction = *parseAscii(QString(QLatin1Char('0')) + s.mid(start, pos - start).toString());
    }

    int offsetSeconds = 0;
    if (pos < s.size() && s[pos] == QLatin1Char('Z')) {
        ++pos;
    } else if (pos < s.size() && (s[pos] == QLatin1Char('+') || s[pos] == QLatin1Char('-'))) {
        const auto offHours = digitsAt(s, pos + 1, 2);
        const auto offMinutes = digitsAt(s, pos + 4, 2);
        if (!offHours || !offMinutes || s[pos + 3] != QLatin1Char(':') || *offHours > 23 || *offMinutes > 59)
            return std::nullopt;
        offsetSeconds = (*offHours * 3600 + *offMinutes * 60) * (s[pos] == QLatin1Char('-') ? -1 : 1);
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != s.size())
        return std::nullopt;

    const QDate date(*year, *month, *day);
    if (!date.isValid() || *hour > 23 || *minute > 59 || *second > 59)
        return std::nullopt;
    const qint64 days = date.toJulianDay() - QDate(1970, 1, 1).toJulianDay();
    return double(days) * 86400.0 + *hour * 3600 + *minute * 60 + *second + fraction - offsetSeconds;
}

std::optional<double> timestampSeconds(const QJsonValue &ts)
{
    if (ts.isDouble())
        return ts.toDouble();
    if (!ts.isString() || ts.toString().isEmpty())
        return std::nullopt;
    const QString text = ts.toString();
    if (const auto date = parseInternetDateTime(text))
        return date;
    return parseDecimal(text);
}

Result parse(const QByteArray &standardOutput, ContinuousInstant sampleInstant, double sampleDate)
{
    Result result;
    if (standardOutput.isEmpty())
        return result;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder(standardOutput);
    if (decoder.hasError())
        return result;
    const QString text = Text::trimmed(decoded);
    if (text.isEmpty() || text == QLatin1String("null"))
        return result;

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        result.parseFailed = true;
        result.characters = Text::characterCount(text);
        return result;
    }
    const QJsonObject object = document.object();
    if (object.contains(QLatin1String("error")))
        return result;

    const auto title = nonEmptyString(object.value(QLatin1String("t")));
    if (!title)
        return result;

    NowPlayingTrack track;
    track.title = *title;
    const QJsonValue artist = object.value(QLatin1String("a"));
    track.artist = artist.isString() ? artist.toString() : QString();
    const QJsonValue album = object.value(QLatin1String("l"));
    track.album = album.isString() ? album.toString() : QString();
    const double d = numberOrZero(object.value(QLatin1String("d")));
    const double e = numberOrZero(object.value(QLatin1String("e")));
    const double r = numberOrZero(object.value(QLatin1String("r")));
    track.duration = d;
    const QJsonValue bundle = object.value(QLatin1String("b"));
    if (bundle.isString())
        track.sourceBundleIdentifier = bundle.toString();

    // Only a playing sample moves on between `ts` and the sample date; a paused one stays put.
    track.elapsed = e;
    if (r > 0) {
        const auto at = timestampSeconds(object.value(QLatin1String("ts")));
        if (at && *at - referenceDate > 0) {
            double dt = sampleDate - *at;
            if (!(dt >= 0)) // negative (a `ts` in the future) or not a number
                dt = 0;
            const double carried = e + r * dt;
            track.elapsed = d > 0 && d < carried ? d : carried;
        }
    }
    track.isPlaying = r > 0;
    track.sampleHostTime = sampleInstant;
    result.track = track;

    const auto at = timestampSeconds(object.value(QLatin1String("ts")));
    if (object.value(QLatin1String("e")).isDouble() && at && *at - referenceDate > 0) {
        PositionRead read;
        const QJsonValue busName = object.value(QLatin1String("dbgBusName"));
        read.player = busName.isString() ? busName.toString() : track.sourceBundleIdentifier.value_or(QString());
        read.title = track.title;
        read.artist = track.artist;
        read.album = track.album;
        read.duration = d;
        read.rate = std::max(0.0, r);
        read.position = e;
        read.at = placed(*at, sampleInstant, sampleDate);
        if (object.contains(QLatin1String("watch")))
            read.watch = watchOf(object.value(QLatin1String("watch")), sampleInstant, sampleDate);
        result.read = read;
    }
    return result;
}

} // namespace MprisReaderOutput
