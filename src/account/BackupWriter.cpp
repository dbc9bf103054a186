#include "account/BackupWriter.h"

#include "account/BackupDates.h"
#include "core/PronunciationHintText.h"
#include "platform/JsonWriter.h"

// Members are written in ascending order of their keys, as the format requires; the order
// below is that order, spelled out.
namespace BackupWriter {
namespace {

void text(JsonWriter &json, const char *name, QUtf8StringView value)
{
    json.key(QLatin1StringView(name)).value(QAnyStringView(value));
}

void optionalText(JsonWriter &json, const char *name, const std::optional<QUtf8StringView> &value)
{
    if (value)
        text(json, name, *value);
}

void date(JsonWriter &json, const char *name, qint64 ms)
{
    const BackupDates::Text formatted = BackupDates::format(ms);
    json.key(QLatin1StringView(name)).value(QLatin1StringView(formatted.chars, formatted.size));
}

void optionalDate(JsonWriter &json, const char *name, const std::optional<qint64> &ms)
{
    if (ms)
        date(json, name, *ms);
}

// Unlike JsonWriter::optionalMember, a value that is present but not finite fails the write.
void optionalNumber(JsonWriter &json, const char *name, const std::optional<double> &value)
{
    if (value)
        json.key(QLatin1StringView(name)).value(*value);
}

void hint(JsonWriter &json, const std::optional<QUtf8StringView> &stored)
{
    if (!stored)
        return;
    const std::optional<PronunciationHintText::Utf8Hint> decoded = PronunciationHintText::decodeUtf8(*stored);
    if (!decoded)
        return;
    json.key(QLatin1StringView("pronunciationHint")).beginObject();
    if (decoded->ipa)
        text(json, "ipa", QUtf8StringView(*decoded->ipa));
    json.key(QLatin1StringView("kind")).value(PronunciationHintText::rawText(decoded->kind));
    text(json, "tip", QUtf8StringView(decoded->tip));
    json.endObject();
}

bool isDifficulty(QUtf8StringView raw)
{
    return raw == QUtf8StringView("easy") || raw == QUtf8StringView("medium") || raw == QUtf8StringView("hard");
}

void card(JsonWriter &json, const LibraryCardView &c)
{
    json.beginObject();
    text(json, "cn", c.cn);
    optionalText(json, "culturalHint", c.culturalHint);
    text(json, "en", c.en);
    text(json, "example", c.example);
    optionalDate(json, "favoritedAt", c.favoritedAt);
    json.key(QLatin1StringView("isFavorite")).value(c.isFavorite);
    json.key(QLatin1StringView("isMastered")).value(c.isMastered);
    optionalNumber(json, "lineTimestamp", c.lineTimestamp);
    if (c.listeningDifficultyRaw && isDifficulty(*c.listeningDifficultyRaw))
        text(json, "listeningDifficulty", *c.listeningDifficultyRaw);
    optionalDate(json, "masteredAt", c.masteredAt);
    text(json, "note", c.note);
    hint(json, c.pronunciationHintJSON);
    text(json, "tag", c.tag);
    json.endObject();
}

void song(JsonWriter &json, LibraryRowSource &source)
{
    const LibrarySongView &s = source.song();
    json.beginObject();
    text(json, "artist", s.artist);
    json.key(QLatin1StringView("cards")).beginArray();
    while (source.nextCard())
        card(json, source.card());
    json.endArray();
    optionalDate(json, "favoritedAt", s.favoritedAt);
    json.key(QLatin1StringView("isFavorite")).value(s.isFavorite);
    text(json, "key", s.key);
    optionalText(json, "language", s.language);
    date(json, "lastPlayedAt", s.lastPlayedAt);
    text(json, "lyrics", s.lyrics);
    optionalNumber(json, "offset", s.lyricsOffset);
    json.key(QLatin1StringView("playCount")).value(s.playCount);
    optionalText(json, "storyArticle", s.storyArticle);
    text(json, "title", s.title);
    json.endObject();
}

} // namespace

QByteArray write(const Header &header, LibraryRowSource &source)
{
    JsonWriter::Options options;
    options.pretty = true;
    options.escapeSlash = true;
    return JsonWriter::toBytes(
        [&](JsonWriter &json) {
            json.beginObject();
            text(json, "appBuild", QUtf8StringView(header.appBuild));
            date(json, "exportedAt", header.exportedAt);
            json.key(QLatin1StringView("namespaces")).beginObject();
            json.key(QUtf8StringView(header.backupNamespace)).beginObject();
            json.key(QLatin1StringView("songs")).beginArray();
            while (source.nextSong())
                song(json, source);
            json.endArray();
            json.endObject();
            json.endObject();
            json.endObject();
        },
        options);
}

} // namespace BackupWriter
