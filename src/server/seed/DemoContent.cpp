#include "server/seed/DemoContent.h"

#include "server/content/SongKey.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace server {
namespace {

std::optional<QByteArray> readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

std::optional<QJsonObject> readObject(const QString &path, QString *problem)
{
    const std::optional<QByteArray> bytes = readFile(path);
    if (!bytes) {
        *problem = QStringLiteral("cannot read %1").arg(path);
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes, &parseError);
    if (!document.isObject()) {
        *problem = QStringLiteral("%1 is not a JSON object (%2)").arg(path, parseError.errorString());
        return std::nullopt;
    }
    return document.object();
}

} // namespace

QString DemoSong::songKey() const
{
    return songKeyOf(title, artist);
}

DemoContent DemoContent::load(const QString &directory, QString *error)
{
    DemoContent content;
    const QDir root(directory);
    if (!root.exists()) {
        *error = QStringLiteral("no content folder at %1").arg(directory);
        return content;
    }
    for (const QString &name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QDir folder(root.filePath(name));
        QString problem;
        const std::optional<QJsonObject> meta = readObject(folder.filePath(QStringLiteral("meta.json")), &problem);
        if (!meta) {
            *error = problem;
            return content;
        }
        DemoSong song;
        song.folder = name;
        song.title = meta->value(QLatin1String("title")).toString();
        song.artist = meta->value(QLatin1String("artist")).toString();
        song.album = meta->value(QLatin1String("album")).toString();
        song.duration = meta->value(QLatin1String("duration")).toDouble();
        song.language = meta->value(QLatin1String("language")).toString();
        song.source = meta->value(QLatin1String("source")).toString(QStringLiteral("lrclib"));
        if (song.title.trimmed().isEmpty() || song.artist.trimmed().isEmpty()) {
            *error = QStringLiteral("%1/meta.json needs a title and an artist").arg(name);
            return content;
        }

        const std::optional<QByteArray> lyrics = readFile(folder.filePath(QStringLiteral("lyrics.lrc")));
        const std::optional<QByteArray> story = readFile(folder.filePath(QStringLiteral("story.txt")));
        if (!lyrics || !story) {
            *error = QStringLiteral("%1 needs lyrics.lrc and story.txt").arg(name);
            return content;
        }
        song.lyrics = QString::fromUtf8(*lyrics);
        song.story = QString::fromUtf8(*story);

        if (folder.exists(QStringLiteral("cards.json"))) {
            song.cards = readObject(folder.filePath(QStringLiteral("cards.json")), &problem);
            if (!song.cards || !song.cards->value(QLatin1String("cards")).isArray()) {
                *error = problem.isEmpty() ? QStringLiteral("%1/cards.json has no \"cards\" array").arg(name) : problem;
                return content;
            }
            // The answer names the song the way the program does, whatever the file says.
            song.cards->insert(QStringLiteral("songKey"), song.songKey());
        }

        if (content.m_byKey.contains(song.songKey())) {
            *error = QStringLiteral("%1 repeats the song %2").arg(name, song.songKey());
            return content;
        }
        content.m_byKey.insert(song.songKey(), content.m_songs.size());
        content.m_songs.append(song);
    }
    return content;
}

} // namespace server
