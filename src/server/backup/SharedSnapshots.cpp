#include "server/backup/SharedSnapshots.h"

#include "server/backup/SpoolFile.h"

#include <condition_variable>

namespace server {

struct SharedSnapshots::Budget
{
    std::mutex mutex;
    std::size_t used = 0;
    const std::size_t max;

    explicit Budget(std::size_t maxBytes) : max(maxBytes) {}
    bool take(std::size_t bytes)
    {
        const std::lock_guard lock(mutex);
        if (bytes > max - std::min(max, used))
            return false;
        used += bytes;
        return true;
    }
    void give(std::size_t bytes)
    {
        const std::lock_guard lock(mutex);
        used -= std::min(used, bytes);
    }
};

struct SharedSnapshots::Snapshot final : BackupBytes
{
    enum class State { Copying, Ready, Empty, Failed };

    Snapshot(const std::string &folder, std::string version, std::shared_ptr<Budget> budget, std::size_t reserved)
        : version(std::move(version)), budget(std::move(budget)), reserved(reserved), spool(folder)
    {
    }
    ~Snapshot() override { budget->give(reserved); }

    std::size_t readAt(std::size_t offset, char *buffer, std::size_t capacity) const override
    {
        return spool.readAt(offset, buffer, capacity);
    }

    // The state once the copy is over.
    State waitForCopy()
    {
        std::unique_lock lock(mutex);
        copied.wait(lock, [this] { return state != State::Copying; });
        return state;
    }
    void copyOver(State to, const std::optional<BackupInfo> &info = std::nullopt)
    {
        {
            const std::lock_guard lock(mutex);
            state = to;
            if (info)
                held = *info;
        }
        copied.notify_all();
    }

    const std::string version; // the version it was made for
    const std::shared_ptr<Budget> budget;
    const std::size_t reserved;
    SpoolFile spool;
    std::mutex mutex;
    std::condition_variable copied;
    State state = State::Copying;
    BackupInfo held; // what it holds, once Ready
};

SharedSnapshots::SharedSnapshots(std::string folder, std::size_t maxBytes)
    : m_folder(std::move(folder))
    , m_budget(std::make_shared<Budget>(maxBytes))
{
}

SharedSnapshots::~SharedSnapshots() = default;

std::shared_ptr<const BackupBytes> SharedSnapshots::share(const std::string &key, const BackupInfo &expected,
                                                         const Copy &copy, BackupInfo &got)
{
    std::shared_ptr<Snapshot> snapshot;
    bool mine = false;
    {
        const std::lock_guard lock(m_mutex);
        std::erase_if(m_snapshots, [](const auto &entry) { return entry.second.expired(); });
        snapshot = m_snapshots[key].lock();
        if (!snapshot || snapshot->version != expected.version) {
            if (!m_budget->take(expected.sizeBytes))
                throw SpoolFullError("the spool is full");
            try {
                snapshot = std::make_shared<Snapshot>(m_folder, expected.version, m_budget, expected.sizeBytes);
            } catch (...) {
                m_budget->give(expected.sizeBytes);
                throw;
            }
            m_snapshots[key] = snapshot;
            mine = true;
        }
    }
    if (mine) {
        try {
            const std::optional<BackupInfo> info = copy([&snapshot](std::size_t offset, const char *data, std::size_t size) {
                snapshot->spool.writeAt(offset, data, size);
            });
            snapshot->copyOver(info ? Snapshot::State::Ready : Snapshot::State::Empty, info);
        } catch (const std::system_error &error) {
            snapshot->copyOver(Snapshot::State::Failed);
            if (isOutOfSpace(error))
                throw SpoolFullError(error.what());
            throw;
        } catch (...) {
            snapshot->copyOver(Snapshot::State::Failed);
            throw;
        }
    }
    switch (snapshot->waitForCopy()) {
    case Snapshot::State::Ready:
        got = snapshot->held;
        return snapshot;
    case Snapshot::State::Empty:
        return nullptr;
    default:
        throw StoreError("a shared copy of the backup failed");
    }
}

std::size_t SharedSnapshots::bytesInUse() const
{
    const std::lock_guard lock(m_budget->mutex);
    return m_budget->used;
}

} // namespace server
