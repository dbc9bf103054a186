#include "server/backup/AccountTurns.h"

#include "server/store/ServerStore.h"

namespace server {

AccountTurns::Turn::Turn(AccountTurns &turns, QString account)
    : m_turns(turns)
    , m_account(std::move(account))
{
    std::unique_lock lock(m_turns.m_mutex);
    if (!m_turns.m_freed.wait_for(lock, m_turns.m_maxWait, [this] { return !m_turns.m_busy.contains(m_account); }))
        throw StoreBusyError("an earlier upload of the account is still being stored", 1);
    m_turns.m_busy.insert(m_account);
}

AccountTurns::Turn::~Turn()
{
    {
        const std::lock_guard lock(m_turns.m_mutex);
        m_turns.m_busy.erase(m_account);
    }
    m_turns.m_freed.notify_all();
}

} // namespace server
