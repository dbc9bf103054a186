#pragma once

#include "server/backup/SpoolBudget.h"
#include "server/store/StoreRecords.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace server {

// Stored documents lent to readers (SQLite's files), by backup and version. A version replaced
// while readers still hold it stays on the disk until the last of them ends, outside any quota:
// from its replacement on, it holds its size of the budget for its account.
class HeldVersions
{
public:
    explicit HeldVersions(SpoolBudget &budget) : m_budget(budget) {}

    // `bytes` of `info.version` of backup `key`, as a reader holds it (shared with the other
    // readers of that version).
    std::shared_ptr<const BackupBytes> lend(const std::string &key, const QString &account, const BackupInfo &info,
                                            std::shared_ptr<const BackupBytes> bytes);
    // True while a reader holds any version of `key`.
    bool held(const std::string &key);
    // `current` is now the stored version of `key`: the others still held count from now on.
    void replaced(const std::string &key, const std::string &current);

private:
    struct Lent;

    SpoolBudget &m_budget;
    std::mutex m_mutex;
    std::map<std::string, std::map<std::string, std::weak_ptr<Lent>>> m_lent; // by key, then version
};

} // namespace server
