#pragma once

#include "platform/Async.h"
#include "session/nowplaying/NowPlayingTrack.h"

#include <optional>

// Produces samples of what is playing. A present value says what plays now; an absent value
// says that nothing plays or that the information could not be read.
class NowPlayingSource
{
public:
    virtual ~NowPlayingSource() = default;

    // The output stream (a shared handle; the same stream on every call).
    virtual Channel<std::optional<NowPlayingTrack>> trackPublisher() const = 0;
    // Begins producing values.
    virtual void start() = 0;
    // Stops producing values and finishes the stream.
    virtual void stop() = 0;
};
