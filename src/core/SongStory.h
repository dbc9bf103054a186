#pragma once

#include "core/StoryParser.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

class JsonWriter;

// Where a story came from. There is one source today: the backend.
enum class SongStorySource {
    Remote,
};

// The story article of one song, as the backend wrote it for the title and artist asked about.
struct SongStory
{
    QString title;
    QString artist;
    QString article;
    SongStorySource source = SongStorySource::Remote;

    bool operator==(const SongStory &) const = default;

    // JSON form: {"title", "artist", "article", "source": {"type": "remote"}}, written in that
    // order. Decoding requires all four keys with their types and throws JsonError otherwise;
    // any string under "source.type" reads as the remote source.
    void writeJson(JsonWriter &writer) const;
    QByteArray toJson() const;
    static SongStory fromJson(const QJsonObject &object);

    // Views over the article; each call parses it afresh.
    // The English paragraphs; an article without section markers is one paragraph (the whole
    // trimmed text), an empty article none.
    QStringList paragraphsEN() const;
    // The article's title, or the song title when it has none.
    QString titleEN() const;
    std::optional<QString> titleCN() const;
    std::optional<int> year() const;
    std::optional<QString> genre() const;
    QStringList moodTags() const;
    std::optional<QString> signatureLine() const;
    QStringList paragraphsCN() const;
};
