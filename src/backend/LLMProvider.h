#pragma once

#include "core/GoldenCard.h"
#include "core/NowPlayingTrack.h"
#include "platform/Cancellation.h"

#include <QList>
#include <QString>

#include <qcoro/qcorotask.h>

#include <optional>

// Writes the golden cards of one song. Held as an interface so a test double can stand in.
class LLMProvider
{
public:
    virtual ~LLMProvider() = default;

    // Only the track's title and artist are read. `targetLanguage` absent leaves it to the
    // backend. On success the list is never empty. Fails with RemoteCardsError, or with
    // CancelledError once `token` fires (the request is aborted).
    virtual QCoro::Task<QList<GoldenCard>> fetchCards(QString lyrics, NowPlayingTrack track,
                                                      std::optional<QString> targetLanguage,
                                                      CancellationToken token = {}) = 0;
};
