#include "platform/SecretStore.h"

#include <QObject>
#include <QTimer>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotimer.h>
#include <qt6keychain/keychain.h>

const char *toString(SecretStore::Status status)
{
    switch (status) {
    case SecretStore::Status::Ok: return "ok";
    case SecretStore::Status::NotFound: return "not found";
    case SecretStore::Status::Unavailable: return "unavailable";
    case SecretStore::Status::TimedOut: return "timed out";
    case SecretStore::Status::Denied: return "denied";
    case SecretStore::Status::Failed: return "failed";
    }
    return "failed";
}

namespace {

SecretStore::Status statusOf(QKeychain::Error error)
{
    switch (error) {
    case QKeychain::NoError: return SecretStore::Status::Ok;
    case QKeychain::EntryNotFound: return SecretStore::Status::NotFound;
    case QKeychain::AccessDeniedByUser:
    case QKeychain::AccessDenied: return SecretStore::Status::Denied;
    // Without a bus, libsecret or a daemon, the Secret Service path reports OtherError within
    // milliseconds; it is indistinguishable from "nothing answers".
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
    case QKeychain::OtherError: return SecretStore::Status::Unavailable;
    case QKeychain::CouldNotDeleteEntry: return SecretStore::Status::Failed;
    }
    return SecretStore::Status::Failed;
}

// Settles once: when the job finishes or when the bound passes, whichever comes first.
class JobWaiter : public QObject
{
    Q_OBJECT
public:
    void settle(SecretStore::Status s, QByteArray d = {})
    {
        if (settled)
            return;
        settled = true;
        status = s;
        data = std::move(d);
        emit done();
    }

    bool settled = false;
    SecretStore::Status status = SecretStore::Status::TimedOut;
    QByteArray data;

signals:
    void done();
};

// Starts `job` (which deletes itself when it finishes, even after we stopped waiting) and
// waits for it within `timeout`.
QCoro::Task<SecretStore::ReadResult> runJob(QKeychain::Job *job, std::chrono::milliseconds timeout)
{
    JobWaiter waiter;
    job->setAutoDelete(true);
    QObject::connect(job, &QKeychain::Job::finished, &waiter, [&waiter](QKeychain::Job *finished) {
        QByteArray data;
        if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(finished))
            data = read->binaryData();
        waiter.settle(statusOf(finished->error()), data);
    });
    QTimer::singleShot(timeout, &waiter, [&waiter] { waiter.settle(SecretStore::Status::TimedOut); });
    job->start();
    if (!waiter.settled)
        co_await qCoro(&waiter, &JobWaiter::done);
    SecretStore::ReadResult result{waiter.status, {}};
    if (result.status == SecretStore::Status::Ok)
        result.data = waiter.data;
    co_return result;
}

} // namespace

KeychainSecretStore::KeychainSecretStore(std::chrono::milliseconds timeout)
    : m_timeout(timeout)
{
}

QCoro::Task<SecretStore::ReadResult> KeychainSecretStore::read(QString service, QString key)
{
    auto *job = new QKeychain::ReadPasswordJob(service);
    job->setKey(key);
    co_return co_await runJob(job, m_timeout);
}

QCoro::Task<SecretStore::Status> KeychainSecretStore::write(QString service, QString key, QByteArray data)
{
    auto *job = new QKeychain::WritePasswordJob(service);
    job->setKey(key);
    job->setBinaryData(data);
    co_return (co_await runJob(job, m_timeout)).status;
}

QCoro::Task<SecretStore::Status> KeychainSecretStore::remove(QString service, QString key)
{
    auto *job = new QKeychain::DeletePasswordJob(service);
    job->setKey(key);
    co_return (co_await runJob(job, m_timeout)).status;
}

// ---- InMemorySecretStore ----

QCoro::Task<void> InMemorySecretStore::pause()
{
    if (m_delay.count() > 0)
        co_await QCoro::sleepFor(m_delay);
}

QCoro::Task<SecretStore::ReadResult> InMemorySecretStore::read(QString service, QString key)
{
    co_await pause();
    ++m_reads;
    if (m_failure)
        co_return ReadResult{*m_failure, {}};
    auto it = m_items.constFind(address(service, key));
    if (it == m_items.constEnd())
        co_return ReadResult{Status::NotFound, {}};
    co_return ReadResult{Status::Ok, *it};
}

QCoro::Task<SecretStore::Status> InMemorySecretStore::write(QString service, QString key, QByteArray data)
{
    co_await pause();
    ++m_writes;
    if (m_failure)
        co_return *m_failure;
    if (m_writeFailure)
        co_return *m_writeFailure;
    m_items.insert(address(service, key), data);
    co_return Status::Ok;
}

QCoro::Task<SecretStore::Status> InMemorySecretStore::remove(QString service, QString key)
{
    co_await pause();
    ++m_removes;
    if (m_failure)
        co_return *m_failure;
    co_return m_items.remove(address(service, key)) > 0 ? Status::Ok : Status::NotFound;
}

std::optional<QByteArray> InMemorySecretStore::item(const QString &service, const QString &key) const
{
    auto it = m_items.constFind(address(service, key));
    if (it == m_items.constEnd())
        return std::nullopt;
    return *it;
}

void InMemorySecretStore::setItem(const QString &service, const QString &key, const QByteArray &data)
{
    m_items.insert(address(service, key), data);
}

#include "SecretStore.moc"
