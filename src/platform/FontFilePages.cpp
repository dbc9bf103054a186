#include "platform/FontFilePages.h"

#include <QFile>

#include <array>

#ifdef Q_OS_LINUX
#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace FontFilePages {

namespace {

bool isFontFilePath(QByteArrayView path)
{
    static constexpr std::array<QByteArrayView, 4> extensions{".ttf", ".otf", ".ttc", ".otc"};
    for (QByteArrayView extension : extensions) {
        if (path.size() > extension.size()
            && path.sliced(path.size() - extension.size()).compare(extension, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// One line: "begin-end perms offset dev inode   path", the path (if any) after the fifth field.
bool parseMapsLine(QByteArrayView line, Range &range, QByteArrayView &perms, QByteArrayView &path)
{
    qsizetype at = 0;
    const auto field = [&line, &at]() -> QByteArrayView {
        while (at < line.size() && line[at] == ' ')
            ++at;
        const qsizetype from = at;
        while (at < line.size() && line[at] != ' ')
            ++at;
        return line.sliced(from, at - from);
    };
    const QByteArrayView addresses = field();
    perms = field();
    for (int i = 0; i < 3; ++i) // offset, device, inode
        field();
    while (at < line.size() && line[at] == ' ')
        ++at;
    path = line.sliced(at);
    const qsizetype dash = addresses.indexOf('-');
    if (dash <= 0 || perms.size() < 4)
        return false;
    bool beginOk = false;
    bool endOk = false;
    range.begin = addresses.first(dash).toULongLong(&beginOk, 16);
    range.end = addresses.sliced(dash + 1).toULongLong(&endOk, 16);
    return beginOk && endOk && range.begin < range.end;
}

#ifdef Q_OS_LINUX
// Whether the mapping over exactly [begin, end) is still `path`: /proc/self/map_files names each
// mapping by its range and links it to its file.
bool stillMapped(const Range &range)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/map_files/%llx-%llx", static_cast<unsigned long long>(range.begin),
                  static_cast<unsigned long long>(range.end));
    char target[4096];
    const ssize_t length = readlink(link, target, sizeof target);
    return length > 0 && length < ssize_t(sizeof target) && QByteArrayView(target, length) == range.path;
}
#endif

} // namespace

QList<Range> readOnlyFontMappings(QByteArrayView maps)
{
    QList<Range> ranges;
    qsizetype from = 0;
    while (from < maps.size()) {
        qsizetype to = maps.indexOf('\n', from);
        if (to < 0)
            to = maps.size();
        Range range;
        QByteArrayView perms;
        QByteArrayView path;
        if (parseMapsLine(maps.sliced(from, to - from), range, perms, path) && perms[1] != 'w' && isFontFilePath(path))
        {
            range.path = path.toByteArray();
            ranges.append(range);
        }
        from = to + 1;
    }
    return ranges;
}

int releaseResident()
{
#ifdef Q_OS_LINUX
    QFile file(QStringLiteral("/proc/self/maps"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // A procfs file has no size: readAll() reads until the end.
    const QByteArray maps = file.readAll();
    int released = 0;
    for (const Range &range : readOnlyFontMappings(maps)) {
        if (stillMapped(range) && madvise(reinterpret_cast<void *>(range.begin), range.end - range.begin, MADV_DONTNEED) == 0)
            ++released;
    }
    return released;
#else
    return 0;
#endif
}

qint64 residentFilePages()
{
#ifdef Q_OS_LINUX
    // "size resident shared text lib data dt", in pages.
    FILE *statm = std::fopen("/proc/self/statm", "re");
    if (!statm)
        return -1;
    long long size = 0;
    long long resident = 0;
    long long shared = 0;
    const int read = std::fscanf(statm, "%lld %lld %lld", &size, &resident, &shared);
    std::fclose(statm);
    return read == 3 ? shared : -1;
#else
    return -1;
#endif
}

} // namespace FontFilePages
