#include "server/backup/SpoolFile.h"

#include "server/store/FileRead.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace server {
namespace {

[[noreturn]] void fail(const char *what, int error = errno)
{
    throw std::system_error(error, std::generic_category(), std::string("spool file: ") + what);
}

int openUnnamed(const std::string &folder)
{
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without unnamed files: a named one, unlinked at once.
        std::string path = folder + "/.spool-XXXXXX";
        fd = ::mkostemp(path.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(path.c_str());
    }
    return fd;
}

} // namespace

bool isOutOfSpace(const std::system_error &error)
{
    return error.code() == std::errc::no_space_on_device || error.code().value() == EDQUOT
        || error.code() == std::errc::file_too_large;
}

SpoolFile::SpoolFile(const std::string &folder)
{
    m_fd = openUnnamed(folder);
    if (m_fd < 0) { // e.g. no data folder with PostgreSQL: the system's temporary folder
        const char *temporary = std::getenv("TMPDIR");
        m_fd = openUnnamed(temporary && *temporary ? temporary : "/tmp");
    }
    if (m_fd < 0)
        fail("cannot create");
}

SpoolFile::~SpoolFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void SpoolFile::writeAt(std::size_t offset, const char *data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = ::pwrite(m_fd, data + done, size - done, off_t(offset + done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            fail("cannot write", written < 0 ? errno : ENOSPC);
        done += std::size_t(written);
    }
    m_size = std::max(m_size, offset + size);
}

std::size_t SpoolFile::readAt(std::size_t offset, char *buffer, std::size_t capacity) const
{
    return readFileAt(m_fd, m_size, offset, buffer, capacity);
}

} // namespace server
