#pragma once

#include "FakeBackendCall.h"
#include "core/SongStoryProvider.h"

// The story backend faked per song key (see KeyedFakeScripts).
class FakeSongStoryProvider final : public SongStoryProvider
{
public:
    QCoro::Task<SongStory> fetchStory(QString songKey, QString, QString) override
    {
        return script.play(songKey, {});
    }

    KeyedFakeScripts<SongStory> script;
};
