#pragma once

#include "session/nowplaying/NowPlayingSource.h"

// A now-playing source the test feeds by hand.
class FakeNowPlayingSource final : public NowPlayingSource
{
public:
    Channel<std::optional<NowPlayingTrack>> trackPublisher() const override { return m_stream; }
    void start() override { ++startCount; }
    void stop() override
    {
        ++stopCount;
        m_stream.finish();
    }
    void send(std::optional<NowPlayingTrack> track) { m_stream.send(std::move(track)); }

    int startCount = 0;
    int stopCount = 0;

private:
    Channel<std::optional<NowPlayingTrack>> m_stream;
};
