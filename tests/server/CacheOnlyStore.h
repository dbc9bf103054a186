#pragma once

#include "server/store/ServerStore.h"

#include <QHash>
#include <QPair>

#include <mutex>

// A ServerStore that keeps only the content cache, in memory, for the lyrics tests; everything
// else fails as a broken database would. entries() shows what was stored and with which expiry.
class CacheOnlyStore final : public server::ServerStore
{
public:
    struct Entry
    {
        std::string value;
        qint64 storedAt = 0;
        std::optional<qint64> expiresAt;
    };
    using Key = QPair<QString, QString>; // kind, key

    QHash<Key, Entry> entries() const
    {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }

    void clear()
    {
        std::lock_guard lock(m_mutex);
        m_entries.clear();
    }

    void putCached(const QString &kind, const QString &key, const std::string &value, qint64 now,
                   std::optional<qint64> expiresAt) override
    {
        std::lock_guard lock(m_mutex);
        m_entries.insert({kind, key}, Entry{value, now, expiresAt});
    }
    std::optional<server::CachedEntry> cached(const QString &kind, const QString &key, qint64 now) override
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_entries.constFind({kind, key});
        if (found == m_entries.constEnd() || (found->expiresAt && *found->expiresAt <= now))
            return std::nullopt;
        return server::CachedEntry{found->value, found->storedAt};
    }

    bool ping() override { return true; }
    std::optional<server::UserRecord> createUser(const QString &, const QByteArray &, bool, qint64) override { fail(); }
    std::optional<server::UserRecord> userByEmail(const QString &) override { fail(); }
    std::optional<server::UserRecord> userById(const QString &) override { fail(); }
    void confirmUser(const QString &) override { fail(); }
    server::SignInRecord createSignIn(const QString &, const QByteArray &, qint64) override { fail(); }
    server::RefreshRotation rotateRefreshToken(const QByteArray &, const QByteArray &, qint64) override { fail(); }
    void revokeSignIn(const QString &, qint64) override { fail(); }
    std::optional<server::SignInRecord> signIn(const QString &) override { fail(); }
    void putOneTimeToken(const QByteArray &, const QString &, qint64) override { fail(); }
    std::optional<QString> takeOneTimeToken(const QByteArray &, qint64) override { fail(); }
    qint64 countHit(const QString &, qint64, qint64) override { fail(); }
    void putBackup(const QString &, const QString &, const std::string &, qint64) override { fail(); }
    std::optional<server::StoredBackup> backup(const QString &, const QString &) override { fail(); }
    bool tryClaim(const QString &, const QString &, qint64, qint64) override { fail(); }
    void releaseClaim(const QString &, const QString &) override { fail(); }

private:
    [[noreturn]] static void fail() { throw server::StoreError("only the content cache is kept here"); }

    mutable std::mutex m_mutex;
    QHash<Key, Entry> m_entries;
};
