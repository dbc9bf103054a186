#pragma once

#include "core/SongStory.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>

// Fetches the story of one song. The song key only groups requests; the title and artist say
// which song. Fails with RemoteSongStoryError (or passes a cancellation on unchanged).
class SongStoryProvider
{
public:
    virtual ~SongStoryProvider();
    virtual QCoro::Task<SongStory> fetchStory(QString songKey, QString title, QString artist) = 0;
};

// The provider the views see when none was installed for them.
namespace SongStoryProviderKey {
// One shared stand-by provider, made on first use, that fails every call with
// RemoteSongStoryError::data("no provider configured").
std::shared_ptr<SongStoryProvider> defaultValue();
} // namespace SongStoryProviderKey
