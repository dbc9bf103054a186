#pragma once

#include "server/content/BoundedCache.h"

#include <QString>

#include <chrono>

namespace server {

class ServerStore;

// Whether an access token's sign-in is still active (not revoked, and the user's). Asking the
// database on every request costs a third of a cached lyrics answer; so an "active" answer stands
// for `reuse` (half a second by default): a logout or a revoked sign-in then holds on every other
// process within that time, and on the process that revoked it at once (forget(); a check that was
// reading the database at that moment may still stand for `reuse`). A revoked or unknown sign-in is
// never kept: it is asked again each time. Safe from any thread.
class SignInCheck
{
public:
    using Clock = std::chrono::steady_clock;

    explicit SignInCheck(ServerStore &store, Clock::duration reuse = std::chrono::milliseconds(500),
                         std::size_t maxEntries = 65536);

    bool active(const QString &signInId, const QString &userId, Clock::time_point now = Clock::now());
    // True when a kept "active" answer stands for the sign-in and user (active() would not ask the
    // database); false when active() would ask. Never blocks on the database.
    bool knownActive(const QString &signInId, const QString &userId, Clock::time_point now = Clock::now());
    // The sign-in was revoked here: no kept answer may stand for it any longer.
    void forget(const QString &signInId);

private:
    struct Confirmed
    {
        QString userId;
        Clock::time_point at;
    };

    ServerStore &m_store;
    Clock::duration m_reuse;
    BoundedCache<QString, Confirmed> m_confirmed;
};

} // namespace server
