#include "server/auth/SignInCheck.h"

#include "server/store/ServerStore.h"

namespace server {

namespace {
constexpr std::size_t bytesPerEntry = 160; // two short ids, a time, the map's own node
}

SignInCheck::SignInCheck(ServerStore &store, Clock::duration reuse, std::size_t maxEntries)
    : m_store(store), m_reuse(reuse), m_confirmed(maxEntries, maxEntries * bytesPerEntry)
{
}

bool SignInCheck::knownActive(const QString &signInId, const QString &userId, Clock::time_point now)
{
    const std::optional<Confirmed> kept = m_confirmed.find(signInId);
    return kept && kept->userId == userId && now >= kept->at && now - kept->at < m_reuse;
}

bool SignInCheck::active(const QString &signInId, const QString &userId, Clock::time_point now)
{
    if (knownActive(signInId, userId, now))
        return true;
    const std::optional<SignInRecord> signIn = m_store.signIn(signInId);
    if (!signIn || signIn->revoked) {
        m_confirmed.erase(signInId);
        return false;
    }
    if (signIn->userId != userId)
        return false;
    m_confirmed.insert(signInId, Confirmed{userId, now}, bytesPerEntry);
    return true;
}

void SignInCheck::forget(const QString &signInId)
{
    m_confirmed.erase(signInId);
}

} // namespace server
