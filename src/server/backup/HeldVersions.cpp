#include "server/backup/HeldVersions.h"

#include <vector>

namespace server {

struct HeldVersions::Lent final : BackupBytes
{
    Lent(QString account, std::size_t size, std::shared_ptr<const BackupBytes> bytes)
        : account(std::move(account)), size(size), bytes(std::move(bytes))
    {
    }

    std::size_t readAt(std::size_t offset, char *buffer, std::size_t capacity) const override
    {
        return bytes->readAt(offset, buffer, capacity);
    }

    const QString account;
    const std::size_t size;
    const std::shared_ptr<const BackupBytes> bytes;
    SpoolBudget::Share share; // once replaced (under HeldVersions' mutex); given back with the last reader
};

std::shared_ptr<const BackupBytes> HeldVersions::lend(const std::string &key, const QString &account,
                                                     const BackupInfo &info, std::shared_ptr<const BackupBytes> bytes)
{
    const std::lock_guard lock(m_mutex);
    // Few backups have readers at any time: the ended ones go on each look.
    for (auto backup = m_lent.begin(); backup != m_lent.end();) {
        std::erase_if(backup->second, [](const auto &version) { return version.second.expired(); });
        backup = backup->second.empty() ? m_lent.erase(backup) : std::next(backup);
    }
    std::weak_ptr<Lent> &slot = m_lent[key][info.version];
    if (std::shared_ptr<Lent> lent = slot.lock())
        return lent;
    auto lent = std::make_shared<Lent>(account, info.sizeBytes, std::move(bytes));
    slot = lent;
    return lent;
}

bool HeldVersions::held(const std::string &key)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_lent.find(key);
    if (found == m_lent.end())
        return false;
    std::erase_if(found->second, [](const auto &entry) { return entry.second.expired(); });
    if (!found->second.empty())
        return true;
    m_lent.erase(found);
    return false;
}

void HeldVersions::replaced(const std::string &key, const std::string &current)
{
    std::vector<std::shared_ptr<Lent>> still; // let go of after the lock: a last reader may end here
    const std::lock_guard lock(m_mutex);
    const auto found = m_lent.find(key);
    if (found == m_lent.end())
        return;
    for (const auto &[version, weak] : found->second) {
        std::shared_ptr<Lent> lent = weak.lock();
        if (!lent || version == current || lent->share.bytes() > 0)
            continue;
        lent->share = m_budget.force(lent->account, lent->size);
        still.push_back(std::move(lent));
    }
}

} // namespace server
