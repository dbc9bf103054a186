#pragma once

#include "core/Lyrics.h"
#include "platform/Cancellation.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

// What one lyrics lookup gives: the lyrics (synced, or not found when the backend's text has no
// stamped line), where they came from, and the language the backend reports (as it came).
struct RemoteLyricsFetchResult
{
    LyricsResult result = LyricsResult::notFound();
    LyricsSource source = LyricsSource::lrclib;
    std::optional<QString> language;

    friend bool operator==(const RemoteLyricsFetchResult &, const RemoteLyricsFetchResult &) = default;
};

// Fetches a song's time-synced lyrics from the backend. Held as an interface so a test double
// can stand in.
class RemoteLyricsProviding
{
public:
    virtual ~RemoteLyricsProviding() = default;

    // `duration` 0 or less means none is known. `sourceBundleIdentifier` is the player the track
    // came from (empty when unknown). Fails with RemoteLyricsError, or with CancelledError once
    // `token` fires (the request is aborted).
    virtual QCoro::Task<RemoteLyricsFetchResult> fetch(QString title, QString artist, double duration,
                                                       QString sourceBundleIdentifier,
                                                       CancellationToken token = {}) = 0;
};
