#pragma once

#include "backend/AuthSession.h"
#include "platform/SecretStore.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class KeychainStoreQueue;

// The one secret-store item that keeps the signed-in session across restarts. Its data is the
// session's JSON form. Operations run one at a time in the order they were asked for — a save
// followed by a remove is never applied the other way round — and copies share that order.
// Failures never reach the caller: a failed load reads as "signed out", a failed save or remove
// is logged and otherwise ignored (the session then lives in memory for this run only).
// Tokens are never logged.
class KeychainStore
{
public:
    KeychainStore(QString service, QString account, std::shared_ptr<SecretStore> store);

    // service "com.cantorella.Cantorella.auth", account "supabase-session", the desktop's Secret Service.
    static KeychainStore standard();

    const QString &service() const { return m_service; }
    const QString &account() const { return m_account; }

    // The stored session; nothing when there is none, it does not decode, or the store failed.
    QCoro::Task<std::optional<AuthSession>> load();
    // Replaces the item. True when the store took it; when the store refused it, the previous
    // item is removed too. Callers may drop the task.
    QCoro::Task<bool> save(AuthSession session);
    QCoro::Task<void> remove();
    // Finishes once every operation asked for so far has finished.
    QCoro::Task<void> idle();

private:
    QString m_service;
    QString m_account;
    std::shared_ptr<SecretStore> m_store;
    std::shared_ptr<KeychainStoreQueue> m_queue;
};
