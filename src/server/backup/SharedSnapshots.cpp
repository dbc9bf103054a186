#include "server/backup/SharedSnapshots.h"

#include "server/backup/SpoolFile.h"

#include <condition_variable>

namespace server {

struct SharedSnapshots::Snapshot final : BackupBytes
{
    enum class State { Copying, Ready, Empty, Failed };

    Snapshot(const std::string &folder, std::string version, SpoolBudget::Share share)
        : version(std::move(version)), share(std::move(share)), spool(folder)
    {
    }

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
    SpoolBudget::Share share; // given back when the last reader ends
    SpoolFile spool;
    std::mutex mutex;
    std::condition_variable copied;
    State state = State::Copying;
    BackupInfo held; // what it holds, once Ready
};

SharedSnapshots::SharedSnapshots(std::string folder, SpoolBudget &budget)
    : m_folder(std::move(folder))
    , m_budget(budget)
{
}

SharedSnapshots::~SharedSnapshots() = default;

std::shared_ptr<const BackupBytes> SharedSnapshots::share(const std::string &key, const QString &account,
                                                         const BackupInfo &expected, const Copy &copy, BackupInfo &got)
{
    std::shared_ptr<Snapshot> snapshot;
    bool mine = false;
    {
        const std::lock_guard lock(m_mutex);
        std::erase_if(m_snapshots, [](const auto &entry) { return entry.second.expired(); });
        snapshot = m_snapshots[key].lock();
        if (!snapshot || snapshot->version != expected.version) {
            SpoolBudget::Share share;
            try {
                share = m_budget.take(account, expected.sizeBytes);
            } catch (const AccountSpoolFullError &error) { // a reader is told to come back either way
                throw SpoolFullError(error.what());
            }
            snapshot = std::make_shared<Snapshot>(m_folder, expected.version, std::move(share));
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

} // namespace server
