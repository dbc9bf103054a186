#include "core/SongStory.h"

#include "platform/JsonWriter.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"

namespace {
const QString kTitle = QStringLiteral("title");
const QString kArtist = QStringLiteral("artist");
const QString kArticle = QStringLiteral("article");
const QString kSource = QStringLiteral("source");
const QString kType = QStringLiteral("type");
const QString kRemote = QStringLiteral("remote");
} // namespace

void SongStory::writeJson(JsonWriter &writer) const
{
    writer.beginObject();
    writer.member(kTitle, title);
    writer.member(kArtist, artist);
    writer.member(kArticle, article);
    writer.key(kSource).beginObject().member(kType, kRemote).endObject();
    writer.endObject();
}

QByteArray SongStory::toJson() const
{
    return JsonWriter::toBytes([this](JsonWriter &writer) { writeJson(writer); });
}

SongStory SongStory::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object);
    SongStory story;
    story.title = reader.requireString(kTitle);
    story.artist = reader.requireString(kArtist);
    story.article = reader.requireString(kArticle);
    // The source's text is not compared: every source decodes as the one known case.
    reader.requireReader(kSource).requireString(kType);
    story.source = SongStorySource::Remote;
    return story;
}

QStringList SongStory::paragraphsEN() const
{
    QStringList paragraphs = ParsedStory::parse(article).paragraphsEN;
    if (!paragraphs.isEmpty())
        return paragraphs;
    const QString whole = Text::trimmed(article, Text::CharSet::whitespacesAndNewlines);
    if (whole.isEmpty())
        return {};
    return {whole};
}

QString SongStory::titleEN() const
{
    return ParsedStory::parse(article).titleEN.value_or(title);
}

std::optional<QString> SongStory::titleCN() const
{
    return ParsedStory::parse(article).titleCN;
}

std::optional<int> SongStory::year() const
{
    return ParsedStory::parse(article).year;
}

std::optional<QString> SongStory::genre() const
{
    return ParsedStory::parse(article).genre;
}

QStringList SongStory::moodTags() const
{
    return ParsedStory::parse(article).moodTags;
}

std::optional<QString> SongStory::signatureLine() const
{
    return ParsedStory::parse(article).signatureLine;
}

QStringList SongStory::paragraphsCN() const
{
    return ParsedStory::parse(article).paragraphsCN;
}
