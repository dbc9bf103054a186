#include "server/store/sqlite/BackupFiles.h"

#include "server/store/FileRead.h"

#include <QUuid>

#include <cerrno>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace server {
namespace {

// A document is copied in pieces of this size, and sent to the disk every writeBehind bytes.
constexpr std::size_t copyPiece = 256 * 1024;
constexpr std::size_t writeBehind = 8 * 1024 * 1024;

[[noreturn]] void fail(const std::string &what, int error)
{
    const std::string message = "backup files: " + what + ": " + std::strerror(error);
    if (error == ENOSPC || error == EDQUOT)
        throw StoreFullError(message);
    throw StoreError(message);
}

// Names of our files: 32 hexadecimal digits (nothing else in the folder is ever deleted).
bool isDocumentName(const char *name)
{
    const std::size_t length = std::strlen(name);
    return length == 32 && std::strspn(name, "0123456789abcdef") == length;
}

class FileBytes final : public BackupBytes
{
public:
    FileBytes(int fd, std::size_t size) : m_fd(fd), m_size(size) {}
    ~FileBytes() override { ::close(m_fd); }

    std::size_t readAt(std::size_t offset, char *buffer, std::size_t capacity) const override
    {
        return readFileAt(m_fd, m_size, offset, buffer, capacity);
    }

private:
    int m_fd;
    std::size_t m_size;
};

} // namespace

BackupFiles::BackupFiles(std::string folder)
    : m_folder(std::move(folder))
{
    if (::mkdir(m_folder.c_str(), 0700) != 0 && errno != EEXIST)
        fail("cannot create " + m_folder, errno);
}

std::unique_ptr<BackupFiles::NewFile> BackupFiles::create() const
{
    for (;;) {
        const std::string name = QUuid::createUuid().toString(QUuid::Id128).toStdString();
        const int fd = ::open(path(name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            fail("cannot create a document file", errno);
        // The sweep may have taken the new file for a dead writer's before this lock: then the
        // name no longer leads to this file, and another is made.
        struct stat opened {}, named {};
        if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &opened) == 0 && ::stat(path(name).c_str(), &named) == 0
            && opened.st_ino == named.st_ino)
            return std::unique_ptr<NewFile>(new NewFile(*this, fd, name));
        ::close(fd);
    }
}

BackupFiles::NewFile::NewFile(const BackupFiles &files, int fd, std::string name)
    : m_files(files), m_fd(fd), m_name(std::move(name))
{
}

BackupFiles::NewFile::~NewFile()
{
    ::close(m_fd); // and with it the lock
}

void BackupFiles::NewFile::fill(std::size_t size, const BackupSource &source)
{
    std::vector<char> piece(std::min(size, copyPiece));
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t length = source(offset, piece.data(), std::min(piece.size(), size - offset));
        if (length == 0)
            throw StoreError("backup files: the document ended early");
        for (std::size_t done = 0; done < length;) {
            const ssize_t written = ::pwrite(m_fd, piece.data() + done, length - done, off_t(offset + done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                fail("cannot write a document", written < 0 ? errno : ENOSPC);
            done += std::size_t(written);
        }
        offset += length;
        // The bytes go to the disk as they come, a few MiB at a time, so that the sync below has
        // little left to write and the database's own syncs do not queue behind a whole document.
        if (offset % writeBehind < length || offset == size)
            ::sync_file_range(m_fd, off_t(offset - std::min(offset, writeBehind)), off_t(writeBehind), SYNC_FILE_RANGE_WRITE);
    }
    if (::fsync(m_fd) != 0)
        fail("cannot sync a document", errno);
    m_files.syncFolder();
}

void BackupFiles::NewFile::discard()
{
    m_files.remove(m_name);
}

std::shared_ptr<const BackupBytes> BackupFiles::open(const std::string &name, std::size_t size) const
{
    const int fd = ::open(path(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return nullptr;
    if (fd < 0)
        fail("cannot open a document", errno);
    return std::make_shared<FileBytes>(fd, size);
}

void BackupFiles::remove(const std::string &name) const
{
    ::unlink(path(name).c_str());
}

qint64 BackupFiles::sweep(const std::function<bool(const std::string &)> &named) const
{
    std::vector<std::string> names;
    if (DIR *folder = ::opendir(m_folder.c_str())) {
        while (const dirent *entry = ::readdir(folder)) {
            if (isDocumentName(entry->d_name))
                names.emplace_back(entry->d_name);
        }
        ::closedir(folder);
    }
    qint64 removed = 0;
    for (const std::string &name : names) {
        const int fd = ::open(path(name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Locked: a writer is at work (its row, if it commits, comes before its unlock). Once
        // the lock is ours, a row that names the file was committed before this look.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && !named(name)) {
            ::unlink(path(name).c_str());
            ++removed;
        }
        ::close(fd);
    }
    return removed;
}

void BackupFiles::syncFolder() const
{
    const int fd = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        fail("cannot open the folder", errno);
    const int synced = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (synced != 0)
        fail("cannot sync the folder", error);
}

} // namespace server
