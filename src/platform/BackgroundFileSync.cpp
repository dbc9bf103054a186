#include "platform/BackgroundFileSync.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

BackgroundFileSync::BackgroundFileSync(QString path, SyncFunction sync)
    : m_path(std::move(path))
    , m_sync(std::move(sync))
    , m_worker([this] { run(); })
{
}

BackgroundFileSync::~BackgroundFileSync()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_worker.join();
}

void BackgroundFileSync::request()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_requested;
    }
    m_wake.notify_one();
}

void BackgroundFileSync::waitUntilSynced()
{
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_requested;
    m_done.wait(lock, [&] { return m_synced >= target; });
}

void BackgroundFileSync::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || m_synced < m_requested; });
        if (m_synced == m_requested)
            return; // stopping, nothing owed
        // Everything requested up to here was written before this sync starts.
        const std::uint64_t covered = m_requested;
        lock.unlock();
        if (m_sync)
            m_sync(m_path);
        else
            syncFileAndNewEntry(m_path);
        lock.lock();
        m_synced = covered;
        m_done.notify_all();
    }
}

void BackgroundFileSync::syncFileAndNewEntry(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    const int fd = ::open(encoded.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0 && info.st_ino == m_lastInode;
    ::close(fd);
    if (known)
        return;
    m_lastInode = info.st_ino;
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}
