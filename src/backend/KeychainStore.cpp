#include "backend/KeychainStore.h"

#include "core/AppLog.h"

#include "platform/Async.h"

// Tickets in asking order; an operation runs when its ticket is served.
class KeychainStoreQueue
{
public:
    quint64 nextTicket = 0;
    quint64 serving = 0;
    bool warnedUnavailable = false;
    AsyncSignal advanced;
};

namespace {

// One operation's place in the queue. The turn ends when it is destroyed, also when the
// operation ends by an exception.
class Turn
{
public:
    explicit Turn(std::shared_ptr<KeychainStoreQueue> queue)
        : m_queue(std::move(queue))
        , m_ticket(m_queue->nextTicket++)
    {
    }
    Turn(const Turn &) = delete;
    Turn &operator=(const Turn &) = delete;
    ~Turn()
    {
        ++m_queue->serving;
        m_queue->advanced.fire();
    }

    // Waits through a fresh per-wait receiver: the queue's signal fires once per finished turn,
    // and several can fire before this coroutine runs again.
    QCoro::Task<void> wait()
    {
        const auto queue = m_queue;
        const quint64 ticket = m_ticket;
        std::function<bool()> myTurn = [queue, ticket] { return queue->serving == ticket; };
        // Named, not temporaries inside the co_await: GCC 12 destroys such temporaries twice.
        const CancellationToken never;
        co_await detail::waitUntil(&queue->advanced, myTurn, never);
    }

private:
    std::shared_ptr<KeychainStoreQueue> m_queue;
    quint64 m_ticket;
};

void report(KeychainStoreQueue &queue, const char *operation, SecretStore::Status status)
{
    using S = SecretStore::Status;
    if (status == S::Ok || status == S::NotFound)
        return;
    if (status == S::Unavailable || status == S::TimedOut) {
        if (!queue.warnedUnavailable)
            qCWarning(lcAuth, "Secret Service unavailable (%s: %s): the sign-in session is kept in memory for this run only",
                      operation, toString(status));
        else
            qCDebug(lcAuth, "Secret Service %s: %s", operation, toString(status));
        queue.warnedUnavailable = true;
        return;
    }
    qCWarning(lcAuth, "Secret Service %s failed: %s", operation, toString(status));
}

} // namespace

KeychainStore::KeychainStore(QString service, QString account, std::shared_ptr<SecretStore> store)
    : m_service(std::move(service))
    , m_account(std::move(account))
    , m_store(std::move(store))
    , m_queue(std::make_shared<KeychainStoreQueue>())
{
}

KeychainStore KeychainStore::standard()
{
    return KeychainStore(QStringLiteral("com.cantorella.Cantorella.auth"), QStringLiteral("supabase-session"),
                         std::make_shared<KeychainSecretStore>());
}

// Each operation copies what it needs into its frame first: the KeychainStore it was called on
// may be gone by the time its turn comes.
QCoro::Task<std::optional<AuthSession>> KeychainStore::load()
{
    const auto queue = m_queue;
    const auto store = m_store;
    const QString service = m_service;
    const QString account = m_account;
    Turn turn(queue);
    co_await turn.wait();
    const SecretStore::ReadResult result = co_await store->read(service, account);
    report(*queue, "read", result.status);
    if (result.status != SecretStore::Status::Ok)
        co_return std::nullopt;
    // An item that does not decode reads as signed out and stays until replaced or removed.
    co_return AuthSession::fromJson(result.data);
}

QCoro::Task<bool> KeychainStore::save(AuthSession session)
{
    const auto queue = m_queue;
    const auto store = m_store;
    const QString service = m_service;
    const QString account = m_account;
    Turn turn(queue);
    co_await turn.wait();
    const QByteArray data = session.toJson();
    const SecretStore::Status status = co_await store->write(service, account, data);
    report(*queue, "write", status);
    // A refused write must not leave the previous session behind: the item is deleted, then
    // written. When nothing answers, a removal would not be answered either.
    if (status == SecretStore::Status::Denied || status == SecretStore::Status::Failed) {
        const SecretStore::Status removed = co_await store->remove(service, account);
        report(*queue, "delete", removed);
    }
    co_return status == SecretStore::Status::Ok;
}

QCoro::Task<void> KeychainStore::remove()
{
    const auto queue = m_queue;
    const auto store = m_store;
    const QString service = m_service;
    const QString account = m_account;
    Turn turn(queue);
    co_await turn.wait();
    const SecretStore::Status status = co_await store->remove(service, account);
    report(*queue, "delete", status);
}

QCoro::Task<void> KeychainStore::idle()
{
    const auto queue = m_queue;
    Turn turn(queue);
    co_await turn.wait();
}

#include "KeychainStore.moc"
