#pragma once

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUrl>

#include <array>
#include <optional>

// One timed lyric line: seconds from the start of the song, and its words (may be empty).
struct SyncedLine
{
    double timestamp = 0.0;
    QString text;

    friend bool operator==(const SyncedLine &, const SyncedLine &) = default;
};
// Lists of lines grow by moving memory, not line by line.
Q_DECLARE_TYPEINFO(SyncedLine, Q_RELOCATABLE_TYPE);

// -0.0 hashes like 0.0, as equality demands.
size_t qHash(const SyncedLine &line, size_t seed = 0) noexcept;

// Lyrics of a song: either synced (the LRC text as it came and its lines in time order) or
// not found.
class LyricsResult
{
public:
    static LyricsResult synced(QString rawLRC, QList<SyncedLine> lines);
    static LyricsResult notFound();

    bool isSynced() const { return m_synced; }
    bool isNotFound() const { return !m_synced; }
    // Empty for notFound.
    const QString &rawLRC() const { return m_rawLRC; }
    const QList<SyncedLine> &lines() const { return m_lines; }

    friend bool operator==(const LyricsResult &, const LyricsResult &) = default;

private:
    LyricsResult() = default;

    bool m_synced = false;
    QString m_rawLRC;
    QList<SyncedLine> m_lines;
};

// Where lyrics came from. Travels as its raw value.
enum class LyricsSource { lrclib, netease, cache, manualImport };

inline constexpr std::array<LyricsSource, 4> allLyricsSources = {
    LyricsSource::lrclib, LyricsSource::netease, LyricsSource::cache, LyricsSource::manualImport};

QString rawValue(LyricsSource source);
// Exact, case-sensitive match; any other text gives no value.
std::optional<LyricsSource> lyricsSourceFromRawValue(const QString &raw);
// "LRCLib", "网易云音乐", "缓存", "本地导入".
QString displayName(LyricsSource source);
// The home page of the service behind the source; absent for cache and manualImport.
std::optional<QUrl> attributionURL(LyricsSource source);

QJsonValue toJson(LyricsSource source);
// A string holding one of the raw values; anything else throws JsonError.
LyricsSource lyricsSourceFromJson(const QJsonValue &json);
