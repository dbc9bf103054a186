#pragma once

#include "FakeBackendCall.h"
#include "backend/LLMProvider.h"

// Card generation faked per song title (see KeyedFakeScripts); remembers what each call was asked.
class FakeLLMProvider final : public LLMProvider
{
public:
    struct Request
    {
        QString lyrics;
        QString title;
        std::optional<QString> language;
    };

    QCoro::Task<QList<GoldenCard>> fetchCards(QString lyrics, NowPlayingTrack track,
                                              std::optional<QString> targetLanguage,
                                              CancellationToken token = {}) override
    {
        requests.append({lyrics, track.title, targetLanguage});
        return script.play(track.title, token);
    }

    KeyedFakeScripts<QList<GoldenCard>> script;
    QList<Request> requests;
};
