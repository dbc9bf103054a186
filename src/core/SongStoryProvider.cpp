#include "core/SongStoryProvider.h"

#include "core/SongStoryError.h"

SongStoryProvider::~SongStoryProvider() = default;

namespace {

class UnavailableSongStoryProvider final : public SongStoryProvider
{
public:
    QCoro::Task<SongStory> fetchStory(QString, QString, QString) override
    {
        throw RemoteSongStoryError::data(QStringLiteral("no provider configured"));
        co_return SongStory();
    }
};

} // namespace

std::shared_ptr<SongStoryProvider> SongStoryProviderKey::defaultValue()
{
    static const std::shared_ptr<SongStoryProvider> provider = std::make_shared<UnavailableSongStoryProvider>();
    return provider;
}
