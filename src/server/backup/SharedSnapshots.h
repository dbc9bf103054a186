#pragma once

#include "server/backup/SpoolBudget.h"
#include "server/store/ServerStore.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace server {

// Copies of stored backups on their way to readers, for stores that cannot lend a document
// without a copy: one spool file per version of a backup, however many read it, dropped when
// its last reader ends. Each copy holds its size of the budget, for the account whose backup it is.
class SharedSnapshots
{
public:
    // Copies the current version into the sink; answers what it copied, nothing when none is stored.
    using Copy = std::function<std::optional<BackupInfo>(const BackupSink &sink)>;

    SharedSnapshots(std::string folder, SpoolBudget &budget);
    ~SharedSnapshots();

    // The copy of `key` at `expected.version`, made by `copy` unless a reader holds it already
    // (a reader that arrives while it is made waits for it). `got` is the version it holds (a
    // newer one when a write came between). Null when `copy` found nothing. Throws
    // SpoolFullError when the copy does not fit (the budget, or the disk), StoreError when `copy`
    // does.
    std::shared_ptr<const BackupBytes> share(const std::string &key, const QString &account, const BackupInfo &expected,
                                             const Copy &copy, BackupInfo &got);

private:
    struct Snapshot;

    std::string m_folder;
    SpoolBudget &m_budget;
    std::mutex m_mutex;
    std::map<std::string, std::weak_ptr<Snapshot>> m_snapshots; // by key
};

} // namespace server
