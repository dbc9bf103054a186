#pragma once

#include "platform/Clock.h"
#include "session/nowplaying/NowPlayingTrack.h"
#include "session/nowplaying/PositionEstimator.h"

#include <QByteArray>
#include <QJsonValue>
#include <QStringView>

#include <optional>

// Turns what nowplaying-reader printed into a track. The reader prints one JSON object
// {"t","a","l","d","e","r","ts","b", "watch" when asked to watch, debugging keys "dbg…"},
// `null`, or {"error": …}.
namespace MprisReaderOutput {

struct Result
{
    std::optional<NowPlayingTrack> track;
    // The position as read, placed on the continuous clock; present with the track when the
    // reader gave both `e` and a usable `ts`.
    std::optional<PositionRead> read;
    // The output was text but not a JSON object; `characters` counts the trimmed text's
    // user-perceived characters for the log line.
    bool parseFailed = false;
    qsizetype characters = 0;
};

// `sampleInstant` and `sampleDate` (seconds since 1970) are taken together when the reader has
// exited. A playing sample is carried forward from `ts` to `sampleDate` by its rate and capped
// at the duration when there is one. Wall-clock instants of the output (`ts`, the watch's) are
// placed on the continuous clock by their distance before `sampleDate`.
Result parse(const QByteArray &standardOutput, ContinuousInstant sampleInstant, double sampleDate);

// `ts` as seconds since 1970: an RFC 3339 date-time with or without fractional seconds, a decimal
// number in a string, or a JSON number. Anything else gives no date.
std::optional<double> timestampSeconds(const QJsonValue &ts);

// "2024-05-01T12:00:00Z", "2024-05-01T12:00:00.250+02:00": the internet date-time form only
// (a zone is required); seconds since 1970.
std::optional<double> parseInternetDateTime(QStringView text);

} // namespace MprisReaderOutput
