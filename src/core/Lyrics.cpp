#include "core/Lyrics.h"

#include "platform/StrictJson.h"

#include <QHashFunctions>

size_t qHash(const SyncedLine &line, size_t seed) noexcept
{
    const double timestamp = line.timestamp == 0.0 ? 0.0 : line.timestamp;
    return qHashMulti(seed, timestamp, line.text);
}

LyricsResult LyricsResult::synced(QString rawLRC, QList<SyncedLine> lines)
{
    LyricsResult result;
    result.m_synced = true;
    result.m_rawLRC = std::move(rawLRC);
    result.m_lines = std::move(lines);
    return result;
}

LyricsResult LyricsResult::notFound()
{
    return LyricsResult();
}

QString rawValue(LyricsSource source)
{
    switch (source) {
    case LyricsSource::lrclib: return QStringLiteral("lrclib");
    case LyricsSource::netease: return QStringLiteral("netease");
    case LyricsSource::cache: return QStringLiteral("cache");
    case LyricsSource::manualImport: return QStringLiteral("manualImport");
    }
    return QString();
}

std::optional<LyricsSource> lyricsSourceFromRawValue(const QString &raw)
{
    for (LyricsSource source : allLyricsSources)
        if (rawValue(source) == raw)
            return source;
    return std::nullopt;
}

QString displayName(LyricsSource source)
{
    switch (source) {
    case LyricsSource::lrclib: return QStringLiteral("LRCLib");
    case LyricsSource::netease: return QStringLiteral("网易云音乐");
    case LyricsSource::cache: return QStringLiteral("缓存");
    case LyricsSource::manualImport: return QStringLiteral("本地导入");
    }
    return QString();
}

std::optional<QUrl> attributionURL(LyricsSource source)
{
    switch (source) {
    case LyricsSource::lrclib: return QUrl(QStringLiteral("https://lrclib.net"));
    case LyricsSource::netease: return QUrl(QStringLiteral("https://music.163.com"));
    case LyricsSource::cache:
    case LyricsSource::manualImport: return std::nullopt;
    }
    return std::nullopt;
}

QJsonValue toJson(LyricsSource source)
{
    return rawValue(source);
}

LyricsSource lyricsSourceFromJson(const QJsonValue &json)
{
    if (!json.isString())
        throw JsonError(QStringLiteral("lyrics source: expected a string, found %1").arg(StrictJson::typeName(json)));
    if (auto source = lyricsSourceFromRawValue(json.toString()))
        return *source;
    throw JsonError(QStringLiteral("lyrics source: unknown value \"%1\"").arg(json.toString()));
}
