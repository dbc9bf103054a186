#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

namespace server {

// One account's uploads are stored one after the other: at most one of them writes at a time,
// so that one account never takes more than one writer's turn, however many uploads it sends.
class AccountTurns
{
public:
    explicit AccountTurns(std::chrono::milliseconds maxWait) : m_maxWait(maxWait) {}

    // Holds the account's turn while it lives. StoreBusyError when the turn does not come
    // within the longest wait.
    class Turn
    {
    public:
        Turn(AccountTurns &turns, QString account);
        ~Turn();
        Turn(const Turn &) = delete;
        Turn &operator=(const Turn &) = delete;

    private:
        AccountTurns &m_turns;
        const QString m_account;
    };

private:
    const std::chrono::milliseconds m_maxWait;
    std::mutex m_mutex;
    std::condition_variable m_freed;
    std::set<QString> m_busy;
};

} // namespace server
