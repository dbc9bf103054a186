#pragma once

#include "FakeBackendCall.h"
#include "backend/RemoteLyricsProviding.h"

// The lyrics client faked per song title (see KeyedFakeScripts).
class FakeRemoteLyrics final : public RemoteLyricsProviding
{
public:
    QCoro::Task<RemoteLyricsFetchResult> fetch(QString title, QString, double, QString,
                                               CancellationToken token = {}) override
    {
        return scripts.play(title, token);
    }

    KeyedFakeScripts<RemoteLyricsFetchResult> scripts;
};
