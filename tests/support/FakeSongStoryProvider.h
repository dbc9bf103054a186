#pragma once

#include "FakeBackendCall.h"
#include "core/SongStoryProvider.h"

// The story backend faked per call.
class FakeSongStoryProvider final : public SongStoryProvider
{
public:
    QCoro::Task<SongStory> fetchStory(QString songKey, QString, QString) override
    {
        keys.append(songKey);
        return script.play({});
    }

    FakeCallScript<SongStory> script;
    QStringList keys;
};
