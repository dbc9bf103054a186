#pragma once

#include "server/content/BoundedCache.h"

#include <QDateTime>
#include <QHash>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace server {

// The operator's folder of LRC files, indexed by song key. Requests only ever look songs up in
// the index; no part of a request becomes a path.
//
// Which song a file holds: its [ti:] and [ar:] tags when it has both, otherwise its name read
// as "Artist - Title.lrc" (split at the first " - "). A file with neither, one that is not
// UTF-8, larger than 1 MiB, or without a single timed line is skipped with one log line naming
// it. Files are found in every sub-folder, hidden ones too; links to folders are not followed.
//
// Two files for one song: a file matched by its tags wins over one matched by its name; between
// two of the same kind the one whose path (relative to the folder) sorts first wins. The other
// is logged as ignored. So the winner never depends on the order the file system lists them in.
//
// The index is empty until the first rescan(), which builds it; watch() rebuilds it on a thread
// of its own every `interval`. A rebuild re-reads only files whose size or modification time
// changed, and swaps the new index in whole: lookups never see a half-built one.
//
// find() answers from the file as it is now: it looks at the file's size, times and inode on
// every call and reads it again when any of them changed; the text of files read before is kept
// in memory (bounded). A file modified within the last seconds is read on every call until it
// settles, since a second change within one tick of the file system's clock would leave all of
// them as they were.
class LrcFolderIndex
{
public:
    struct Match
    {
        QString lyrics;   // the file's text
        QString path;     // for logs
    };

    // What tells one version of a file from another without reading it.
    struct FileStamp
    {
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0; // the inode's change time: also moves on a rename over the file
        quint64 inode = 0;
        quint64 device = 0;
        bool operator==(const FileStamp &) const = default;
    };

    struct ScanReport
    {
        int indexed = 0;  // songs in the index
        int skipped = 0;  // files that hold no usable lyrics
        int read = 0;     // files read and parsed (the rest were unchanged)
    };

    using Log = std::function<void(const QString &)>;

    // `log` gets one line per skipped or ignored file, in the scan that reads it.
    LrcFolderIndex(QString folder, Log log);
    ~LrcFolderIndex();
    LrcFolderIndex(const LrcFolderIndex &) = delete;
    LrcFolderIndex &operator=(const LrcFolderIndex &) = delete;

    const QString &folder() const { return m_folder; }

    // The lyrics of a song key; nothing when no file holds that song, or its file no longer
    // reads as LRC (it changed since the last scan; the next scan sees it).
    std::optional<Match> find(const QString &songKey) const;

    ScanReport rescan();
    // Rescans every `interval` until destruction.
    void watch(std::chrono::milliseconds interval);

    // The song key a file's text and name give, or nothing; exposed for the folder's tests of
    // the naming rules.
    struct Identity
    {
        QString songKey;
        bool fromTags = false;
    };
    static std::optional<Identity> identify(const QString &text, const QString &fileName);

private:
    struct Entry
    {
        QString path;         // absolute
        QString relative;     // to the folder, for the tie-break
        qint64 size = 0;
        QDateTime modified;
        std::optional<Identity> identity; // nothing: the file is skipped
    };
    using Entries = QHash<QString, Entry>;      // by absolute path
    using Index = QHash<QString, Entry>;        // by song key

    static std::optional<Identity> readIdentity(const QString &path, const QString &fileName, QString *text,
                                                QString *problem);

    // A file's text and song as find() read it, with the stamp it had before the read.
    struct Parsed
    {
        FileStamp stamp;
        QString text;
        QString songKey;
    };

    QString m_folder;
    Log m_log;
    mutable std::mutex m_mutex;
    std::shared_ptr<const Index> m_index;
    Entries m_entries;         // the last scan's files; only the scanning thread touches it
    std::mutex m_scanMutex;    // one scan at a time
    mutable BoundedCache<QString, std::shared_ptr<const Parsed>> m_parsed; // by absolute path

    std::mutex m_watchMutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_watcher;
};

} // namespace server
