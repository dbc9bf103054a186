#pragma once

#include "FakeBackendCall.h"
#include "backend/RemoteLyricsProviding.h"

#include <QHash>

// The lyrics client faked per song title; a title without a script answers not found.
class FakeRemoteLyrics final : public RemoteLyricsProviding
{
public:
    QCoro::Task<RemoteLyricsFetchResult> fetch(QString title, QString, double, QString,
                                               CancellationToken token = {}) override
    {
        ++calls;
        return scripts[title].play(token);
    }

    QHash<QString, FakeCallScript<RemoteLyricsFetchResult>> scripts;
    int calls = 0;
};
