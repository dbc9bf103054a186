#include "server/backup/SpoolBudget.h"

namespace server {

struct SpoolBudget::Ledger
{
    struct Account
    {
        std::size_t held = 0;
        std::size_t settling = 0; // of `held`, what uploads being stored hold
    };

    const std::size_t maxBytes;
    const std::size_t maxAccountBytes;
    mutable std::mutex mutex;
    std::size_t held = 0;
    std::map<QString, Account> accounts;

    Ledger(std::size_t maxBytes, std::size_t maxAccountBytes) : maxBytes(maxBytes), maxAccountBytes(maxAccountBytes) {}

    static bool fits(std::size_t bytes, std::size_t held, std::size_t max) { return held <= max && bytes <= max - held; }

    void add(const QString &account, std::size_t bytes)
    {
        held += bytes;
        accounts[account].held += bytes;
    }
    void give(const QString &account, std::size_t bytes, bool settled)
    {
        const std::lock_guard lock(mutex);
        held -= std::min(held, bytes);
        const auto found = accounts.find(account);
        if (found == accounts.end())
            return;
        found->second.held -= std::min(found->second.held, bytes);
        if (settled)
            found->second.settling -= std::min(found->second.settling, bytes);
        if (found->second.held == 0)
            accounts.erase(found);
    }
};

SpoolBudget::SpoolBudget(std::size_t maxBytes, std::size_t maxAccountBytes)
    : m_ledger(std::make_shared<Ledger>(maxBytes, maxAccountBytes))
{
}

SpoolBudget::Share SpoolBudget::take(const QString &account, std::size_t bytes)
{
    Ledger &ledger = *m_ledger;
    const std::lock_guard lock(ledger.mutex);
    const auto found = ledger.accounts.find(account);
    const Ledger::Account mine = found == ledger.accounts.end() ? Ledger::Account() : found->second;
    if (Ledger::fits(bytes, mine.held, ledger.maxAccountBytes) && Ledger::fits(bytes, ledger.held, ledger.maxBytes)) {
        ledger.add(account, bytes);
        return Share(m_ledger, account, bytes);
    }
    // Who holds the room: with everyone else's transfers and the account's settling ones gone,
    // would it fit? Then it frees itself; otherwise the account is in its own way.
    const std::size_t ownStanding = mine.held - mine.settling;
    if (Ledger::fits(bytes, ownStanding, std::min(ledger.maxAccountBytes, ledger.maxBytes)))
        throw SpoolFullError("the room for transfers is held by others");
    throw AccountSpoolFullError("the account's transfers hold its room");
}

SpoolBudget::Share SpoolBudget::force(const QString &account, std::size_t bytes)
{
    const std::lock_guard lock(m_ledger->mutex);
    m_ledger->add(account, bytes);
    return Share(m_ledger, account, bytes);
}

std::size_t SpoolBudget::bytesInUse() const
{
    const std::lock_guard lock(m_ledger->mutex);
    return m_ledger->held;
}

std::size_t SpoolBudget::bytesInUse(const QString &account) const
{
    const std::lock_guard lock(m_ledger->mutex);
    const auto found = m_ledger->accounts.find(account);
    return found == m_ledger->accounts.end() ? 0 : found->second.held;
}

SpoolBudget::Share::Share(std::shared_ptr<Ledger> ledger, QString account, std::size_t bytes)
    : m_ledger(std::move(ledger)), m_account(std::move(account)), m_bytes(bytes)
{
}

SpoolBudget::Share::Share(Share &&other) noexcept
    : m_ledger(std::move(other.m_ledger)), m_account(std::move(other.m_account)), m_bytes(other.m_bytes),
      m_settled(other.m_settled)
{
    other.m_bytes = 0;
}

SpoolBudget::Share &SpoolBudget::Share::operator=(Share &&other) noexcept
{
    if (this != &other) {
        release();
        m_ledger = std::move(other.m_ledger);
        m_account = std::move(other.m_account);
        m_bytes = other.m_bytes;
        m_settled = other.m_settled;
        other.m_bytes = 0;
    }
    return *this;
}

SpoolBudget::Share::~Share()
{
    release();
}

void SpoolBudget::Share::settle()
{
    if (!m_ledger || m_settled)
        return;
    const std::lock_guard lock(m_ledger->mutex);
    if (const auto found = m_ledger->accounts.find(m_account); found != m_ledger->accounts.end())
        found->second.settling += m_bytes;
    m_settled = true;
}

void SpoolBudget::Share::release()
{
    if (m_ledger && m_bytes > 0)
        m_ledger->give(m_account, m_bytes, m_settled);
    m_ledger.reset();
    m_bytes = 0;
    m_settled = false;
}

} // namespace server
