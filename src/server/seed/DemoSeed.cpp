#include "server/seed/DemoSeed.h"

#include "server/seed/DemoContent.h"
#include "server/store/ServerStore.h"

#include "platform/JsonWriter.h"

#include <stdexcept>

namespace server {

int importDemoSongs(ServerStore &store, const QString &folder, qint64 now)
{
    QString problem;
    const DemoContent content = DemoContent::load(folder, &problem);
    if (!problem.isEmpty())
        throw std::runtime_error(problem.toStdString());
    for (const DemoSong &song : content.songs()) {
        const QString key = song.songKey();
        store.putCached(QStringLiteral("track"), key, JsonWriter::toBytes([&](JsonWriter &writer) {
                            writer.beginObject()
                                .member("lyrics", song.lyrics)
                                .member("source", song.source)
                                .member("songKey", key)
                                .member("language", song.language)
                                .endObject();
                        }).toStdString(),
                        now, std::nullopt);
        store.putCached(QStringLiteral("story"), key, JsonWriter::toBytes([&](JsonWriter &writer) {
                            writer.beginObject().member("article", song.story).member("songKey", key).endObject();
                        }).toStdString(),
                        now, std::nullopt);
        if (song.cards)
            store.putCached(QStringLiteral("cards"), key, JsonWriter::serialize(*song.cards).toStdString(), now, std::nullopt);
    }
    return int(content.songs().size());
}

} // namespace server
