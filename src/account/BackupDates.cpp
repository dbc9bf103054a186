#include "account/BackupDates.h"

#include <algorithm>
#include <cstdio>

namespace BackupDates {
namespace {

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back
// (H. Hinnant's algorithms: exact for every year, no tables).
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + qint64(doe) - 719468;
}

struct Civil
{
    qint64 year;
    unsigned month;
    unsigned day;
};

Civil civilFromDays(qint64 z)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {qint64(yoe) + era * 400 + (m <= 2), m, d};
}

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

bool isLeap(qint64 y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(qint64 y, unsigned m)
{
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// The decimal number in text[at, at + count), or -1 when a character there is not a digit.
int digits(std::string_view text, size_t at, size_t count)
{
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The instants the text form can hold: years 0000 to 9999 in UTC.
const qint64 firstMs = daysFromCivil(0, 1, 1) * 86'400'000;
const qint64 endMs = daysFromCivil(10000, 1, 1) * 86'400'000;

} // namespace

Text format(qint64 msSinceEpoch)
{
    msSinceEpoch = std::clamp(msSinceEpoch, firstMs, endMs - 1);
    const qint64 seconds = floorDiv(msSinceEpoch, 1000);
    const qint64 days = floorDiv(seconds, 86400);
    const qint64 ofDay = seconds - days * 86400;
    const Civil date = civilFromDays(days);
    Text text;
    text.size = std::snprintf(text.chars, sizeof text.chars, "%04lld-%02u-%02uT%02d:%02d:%02dZ",
                              static_cast<long long>(date.year), date.month, date.day, int(ofDay / 3600),
                              int(ofDay / 60 % 60), int(ofDay % 60));
    return text;
}

std::optional<qint64> parse(std::string_view text)
{
    // 0123456789012345678 9
    // YYYY-MM-DDThh:mm:ss Z | ±hh:mm
    if (text.size() != 20 && text.size() != 25)
        return std::nullopt;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    const int year = digits(text, 0, 4);
    const int month = digits(text, 5, 2);
    const int day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2);
    const int minute = digits(text, 14, 2);
    const int second = digits(text, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || unsigned(day) > daysInMonth(year, unsigned(month))
        || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
        return std::nullopt;
    }
    int offsetSeconds = 0;
    if (text.size() == 20) {
        if (text[19] != 'Z')
            return std::nullopt;
    } else {
        const char sign = text[19];
        if ((sign != '+' && sign != '-') || text[22] != ':')
            return std::nullopt;
        const int offsetHours = digits(text, 20, 2);
        const int offsetMinutes = digits(text, 23, 2);
        if (offsetHours < 0 || offsetHours > 23 || offsetMinutes < 0 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (sign == '-' ? -1 : 1);
    }
    const qint64 ms = (daysFromCivil(year, unsigned(month), unsigned(day)) * 86400 + hour * 3600 + minute * 60
                       + second - offsetSeconds)
        * 1000;
    // An offset can carry a local time of year 0000 or 9999 into another UTC year, which the
    // text form, always written in UTC, cannot hold.
    if (ms < firstMs || ms >= endMs)
        return std::nullopt;
    return ms;
}

} // namespace BackupDates
