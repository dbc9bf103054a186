#pragma once

#include <QString>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace server {

// The room held by others' transfers (or by the account's own upload that is being stored): the
// same request may succeed shortly. Answered 503 with Retry-After.
class SpoolFullError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The account's own unfinished transfers hold its room (or the request is larger than any room):
// waiting for others does not help. An upload is answered 507.
class AccountSpoolFullError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The data folder's room for what is on its way and not (or no longer) a stored backup: the
// spool of each unfinished upload (its declared size, taken before its body is read), the copies
// of backups sent to readers, and replaced versions that readers still hold. Each account's
// transfers together stay within `maxAccountBytes`, everyone's within `maxBytes`. A share is held
// by an object and given back when it ends, whichever way the transfer ends. One per process:
// several processes on one database each keep their own.
class SpoolBudget
{
    struct Ledger;

public:
    SpoolBudget(std::size_t maxBytes, std::size_t maxAccountBytes);

    // Bytes held for one account while the object lives (none when default-made).
    class Share
    {
    public:
        Share() = default;
        Share(Share &&other) noexcept;
        Share &operator=(Share &&other) noexcept;
        ~Share();

        // The transfer has all its bytes and is being stored: it ends shortly by itself, so the
        // account's next upload is told to come back rather than that it has no room.
        void settle();
        void release();
        std::size_t bytes() const { return m_bytes; }

    private:
        friend class SpoolBudget;
        Share(std::shared_ptr<Ledger> ledger, QString account, std::size_t bytes);

        std::shared_ptr<Ledger> m_ledger;
        QString m_account;
        std::size_t m_bytes = 0;
        bool m_settled = false;
    };

    // Takes `bytes` for `account`. Throws AccountSpoolFullError when the account's own unsettled
    // transfers leave no room for it (or it can never fit), SpoolFullError when the room is held
    // only by others' transfers or the account's settling ones.
    Share take(const QString &account, std::size_t bytes);
    // Takes `bytes` whatever is held already (bytes that are on the disk and cannot be refused).
    Share force(const QString &account, std::size_t bytes);

    std::size_t bytesInUse() const;
    std::size_t bytesInUse(const QString &account) const;

private:
    std::shared_ptr<Ledger> m_ledger;
};

} // namespace server
