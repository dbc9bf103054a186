#pragma once

// Points in time in the backup document: the internet date-time form of ISO 8601 (RFC 3339),
// whole seconds, e.g. "2024-05-01T10:00:00Z". Stored points in time are milliseconds since
// 1970 UTC.

#include <QtGlobal>

#include <optional>
#include <string_view>

namespace BackupDates {

struct Text
{
    char chars[32];
    int size = 0;
    std::string_view view() const { return {chars, size_t(size)}; }
};

// In UTC with the designator Z; the sub-second part is dropped (rounding down), so
// 1970-01-01T00:00:00.999Z is written as "1970-01-01T00:00:00Z". An instant outside the years
// 0000-9999 is written as the nearest one inside them, so that parse() reads every text back.
Text format(qint64 msSinceEpoch);

// Accepts exactly "YYYY-MM-DDThh:mm:ss" followed by "Z" or a numeric offset "+hh:mm" /
// "-hh:mm", with every field in range (the day within its month) and the instant within the
// UTC years 0000-9999. Anything else, fractional seconds included, gives nothing.
std::optional<qint64> parse(std::string_view text);

} // namespace BackupDates
