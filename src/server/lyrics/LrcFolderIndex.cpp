#include "server/lyrics/LrcFolderIndex.h"

#include "server/content/SongKey.h"

#include "core/LrcParser.h"
#include "platform/Text.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <time.h>

namespace server {

namespace {

constexpr qint64 maximumFileBytes = 1024 * 1024;
// Files read for requests whose text is kept: a few thousand songs, or 64 MiB of text.
constexpr std::size_t parsedEntries = 4096;
constexpr std::size_t parsedBytes = 64 * 1024 * 1024;
// A file modified this recently may change again without its stamp moving (coarse file-system
// clocks: a tick of milliseconds on most, 2 s on some); its text is not kept.
constexpr qint64 settleNs = 2'000'000'000;

qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

std::optional<LrcFolderIndex::FileStamp> stampOf(const QString &path)
{
    struct stat status{};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return LrcFolderIndex::FileStamp{qint64(status.st_size), nanoseconds(status.st_mtim), nanoseconds(status.st_ctim),
                                     quint64(status.st_ino), quint64(status.st_dev)};
}

bool settled(const LrcFolderIndex::FileStamp &stamp)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 latest = std::max(stamp.modifiedNs, stamp.changedNs);
    return nanoseconds(now) - latest > settleNs;
}

struct Tags
{
    QString title;
    QString artist;
};

// The [ti:] and [ar:] values of the ID-tag groups that open each line ("[ti:X][ar:Y]" counts);
// the first of each wins.
Tags readTags(const QString &text)
{
    Tags tags;
    for (QStringView line : Text::split(text, Text::CharSet::newlines)) {
        line = Text::trimmedView(line, Text::CharSet::horizontalWhitespace);
        while (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            if (close < 0)
                break;
            const QStringView group = line.mid(1, close - 1);
            line = line.mid(close + 1);
            const qsizetype colon = group.indexOf(QLatin1Char(':'));
            if (colon < 0)
                continue;
            const QStringView key = group.left(colon);
            const QString value = Text::trimmed(group.mid(colon + 1));
            if (key.compare(u"ti", Qt::CaseInsensitive) == 0 && tags.title.isEmpty())
                tags.title = value;
            else if (key.compare(u"ar", Qt::CaseInsensitive) == 0 && tags.artist.isEmpty())
                tags.artist = value;
        }
        if (!tags.title.isEmpty() && !tags.artist.isEmpty())
            break;
    }
    return tags;
}

// "Artist - Title.lrc": split at the first " - ".
std::optional<QString> keyFromFileName(const QString &fileName)
{
    QString base = fileName;
    if (base.endsWith(QLatin1String(".lrc"), Qt::CaseInsensitive))
        base.chop(4);
    const qsizetype dash = base.indexOf(QLatin1String(" - "));
    if (dash < 0)
        return std::nullopt;
    const QString artist = Text::trimmed(QStringView(base).left(dash));
    const QString title = Text::trimmed(QStringView(base).mid(dash + 3));
    if (artist.isEmpty() || title.isEmpty())
        return std::nullopt;
    return songKeyOf(title, artist);
}

// Which of two files for one song is served (see the class comment).
bool wins(const LrcFolderIndex::Identity &a, const QString &aRelative, const LrcFolderIndex::Identity &b,
          const QString &bRelative)
{
    if (a.fromTags != b.fromTags)
        return a.fromTags;
    return aRelative < bRelative;
}

} // namespace

std::optional<LrcFolderIndex::Identity> LrcFolderIndex::identify(const QString &text, const QString &fileName)
{
    if (LRCParser::parse(text).isEmpty())
        return std::nullopt;
    const Tags tags = readTags(text);
    if (!tags.title.isEmpty() && !tags.artist.isEmpty())
        return Identity{songKeyOf(tags.title, tags.artist), true};
    if (auto key = keyFromFileName(fileName))
        return Identity{*key, false};
    return std::nullopt;
}

std::optional<LrcFolderIndex::Identity> LrcFolderIndex::readIdentity(const QString &path, const QString &fileName,
                                                                      QString *text, QString *problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("cannot be read");
        return std::nullopt;
    }
    const QByteArray bytes = file.read(maximumFileBytes + 1);
    if (bytes.size() > maximumFileBytes) {
        *problem = QStringLiteral("is larger than 1 MiB");
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    *text = decoder(bytes);
    if (decoder.hasError()) {
        *problem = QStringLiteral("is not UTF-8");
        return std::nullopt;
    }
    auto identity = identify(*text, fileName);
    if (!identity) {
        *problem = LRCParser::parse(*text).isEmpty()
            ? QStringLiteral("has no timed lyric line")
            : QStringLiteral("names no song: no [ti:] and [ar:] tags, and its name is not \"Artist - Title.lrc\"");
    }
    return identity;
}

LrcFolderIndex::LrcFolderIndex(QString folder, Log log)
    : m_folder(QDir(folder).absolutePath()), m_log(std::move(log)), m_index(std::make_shared<Index>()),
      m_parsed(parsedEntries, parsedBytes)
{
}

LrcFolderIndex::~LrcFolderIndex()
{
    {
        std::lock_guard lock(m_watchMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_watcher.joinable())
        m_watcher.join();
}

std::optional<LrcFolderIndex::Match> LrcFolderIndex::find(const QString &songKey) const
{
    std::shared_ptr<const Index> index;
    {
        std::lock_guard lock(m_mutex);
        index = m_index;
    }
    const auto found = index->constFind(songKey);
    if (found == index->constEnd())
        return std::nullopt;
    const QString &path = found->path;
    const std::optional<FileStamp> stamp = stampOf(path);
    if (!stamp)
        return std::nullopt;
    std::optional<std::shared_ptr<const Parsed>> parsed = m_parsed.find(path);
    if (!parsed || (*parsed)->stamp != *stamp) {
        QString text;
        QString problem;
        const auto identity = readIdentity(path, QFileInfo(path).fileName(), &text, &problem);
        if (!identity) {
            m_parsed.erase(path);
            return std::nullopt;
        }
        parsed = std::make_shared<const Parsed>(Parsed{*stamp, text, identity->songKey});
        if (settled(*stamp))
            m_parsed.insert(path, *parsed, std::size_t(text.size() + path.size() + identity->songKey.size()) * 2);
        else
            m_parsed.erase(path);
    }
    if ((*parsed)->songKey != songKey)
        return std::nullopt;
    return Match{(*parsed)->text, path};
}

LrcFolderIndex::ScanReport LrcFolderIndex::rescan()
{
    std::lock_guard scanLock(m_scanMutex);
    ScanReport report;
    Entries entries;
    QSet<QString> readNow;
    // Names are checked here: the iterator's name filters match a regular expression per file.
    QDirIterator it(m_folder, QDir::Files | QDir::Readable | QDir::Hidden, QDirIterator::Subdirectories);
    QList<Entry> toRead;
    while (it.hasNext()) {
        Entry entry;
        // The folder is absolute and clean, so the iterator's path is too.
        entry.path = it.next();
        if (!entry.path.endsWith(QLatin1String(".lrc"), Qt::CaseInsensitive))
            continue;
        const QFileInfo info = it.fileInfo();
        entry.size = info.size();
        entry.modified = info.lastModified();
        const auto previous = m_entries.constFind(entry.path);
        if (previous != m_entries.constEnd() && previous->size == entry.size && previous->modified == entry.modified) {
            entries.insert(entry.path, *previous);
            continue;
        }
        entry.relative = entry.path.mid(m_folder.size() + 1);
        toRead.append(entry);
    }

    // Reading and parsing dominate a first scan; they are spread over a few threads.
    QStringList problems(toRead.size());
    Entry *const reading = toRead.data(); // no detaching from the worker threads
    QString *const problem = problems.data();
    const auto readSlice = [&](qsizetype first, qsizetype step) {
        for (qsizetype i = first; i < toRead.size(); i += step) {
            QString text;
            reading[i].identity = readIdentity(reading[i].path, QFileInfo(reading[i].path).fileName(), &text, &problem[i]);
        }
    };
    const qsizetype cores = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    const qsizetype threads = std::clamp<qsizetype>(toRead.size() / 500, 1, cores);
    std::vector<std::thread> workers;
    for (qsizetype t = 1; t < threads; ++t)
        workers.emplace_back(readSlice, t, threads);
    readSlice(0, threads);
    for (std::thread &worker : workers)
        worker.join();

    for (qsizetype i = 0; i < toRead.size(); ++i) {
        const Entry &entry = toRead[i];
        if (!entry.identity)
            m_log(QStringLiteral("lyrics folder: skipped %1: it %2").arg(entry.relative, problems[i]));
        readNow.insert(entry.path);
        entries.insert(entry.path, entry);
    }
    report.read = int(toRead.size());

    auto index = std::make_shared<Index>();
    for (const Entry &entry : std::as_const(entries)) {
        if (!entry.identity) {
            ++report.skipped;
            continue;
        }
        const auto slot = index->find(entry.identity->songKey);
        if (slot == index->end())
            index->insert(entry.identity->songKey, entry);
        else if (wins(*entry.identity, entry.relative, *slot->identity, slot->relative))
            *slot = entry;
    }
    // A file that lost to another is logged in the scan that read either of the two.
    for (const Entry &entry : std::as_const(entries)) {
        if (!entry.identity)
            continue;
        const Entry &winner = *index->constFind(entry.identity->songKey);
        if (winner.path != entry.path && (readNow.contains(entry.path) || readNow.contains(winner.path)))
            m_log(QStringLiteral("lyrics folder: ignored %1: %2 holds the same song").arg(entry.relative, winner.relative));
    }
    report.indexed = int(index->size());
    m_entries = std::move(entries);
    {
        std::lock_guard lock(m_mutex);
        m_index = std::move(index);
    }
    return report;
}

void LrcFolderIndex::watch(std::chrono::milliseconds interval)
{
    m_watcher = std::thread([this, interval] {
        std::unique_lock lock(m_watchMutex);
        while (!m_wake.wait_for(lock, interval, [this] { return m_stopping; })) {
            lock.unlock();
            rescan();
            lock.lock();
        }
    });
}

} // namespace server
