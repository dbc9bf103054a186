#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace server {

// One demo song as the demo folder describes it (see demo/songs/README.md).
struct DemoSong
{
    QString folder;
    QString title;
    QString artist;
    QString album;
    double duration = 0;
    QString language;
    QString source;
    QString lyrics;                   // LRC text, as /api/track answers it
    std::optional<QJsonObject> cards; // the /api/cards answer body; none for songs not studied
    QString story;                    // the article /api/story answers

    // Lower-cased trimmed artist, "|", lower-cased trimmed title: how the program names a song.
    QString songKey() const;
};

// Every song of a content folder, found by song key.
class DemoContent
{
public:
    // Reads every sub-folder of `directory`. A folder that breaks the layout is an error: the
    // message names the folder and the file.
    static DemoContent load(const QString &directory, QString *error);

    const QList<DemoSong> &songs() const { return m_songs; }

private:
    QList<DemoSong> m_songs;
    QHash<QString, qsizetype> m_byKey;
};

} // namespace server
