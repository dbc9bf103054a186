#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>

// A small store of secrets, each addressed by (service, key). The operations are asynchronous;
// each finishes with a status and never throws.
class SecretStore
{
public:
    enum class Status {
        Ok,
        NotFound,    // read or remove of an item that does not exist
        Unavailable, // no secret service answers (no bus, no daemon, no backend)
        TimedOut,    // the service did not finish within the store's bound (a hidden unlock prompt, say)
        Denied,      // the service refused (a locked collection, the user said no)
        Failed,      // anything else
    };

    struct ReadResult
    {
        Status status = Status::Failed;
        QByteArray data; // set only when status is Ok
    };

    virtual ~SecretStore() = default;

    virtual QCoro::Task<ReadResult> read(QString service, QString key) = 0;
    // Creates or replaces the item.
    virtual QCoro::Task<Status> write(QString service, QString key, QByteArray data) = 0;
    virtual QCoro::Task<Status> remove(QString service, QString key) = 0;
};

const char *toString(SecretStore::Status status);

// The desktop's Secret Service through QtKeychain. Every call is bounded by `timeout`: a call
// that has not finished by then reports TimedOut (QtKeychain runs its jobs one at a time, so a
// job that never ends holds back later jobs too, and they time out in turn, in order).
// Never falls back to storing anything in plain text.
class KeychainSecretStore final : public SecretStore
{
public:
    explicit KeychainSecretStore(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    QCoro::Task<ReadResult> read(QString service, QString key) override;
    QCoro::Task<Status> write(QString service, QString key, QByteArray data) override;
    QCoro::Task<Status> remove(QString service, QString key) override;

private:
    std::chrono::milliseconds m_timeout;
};

// Secrets in memory only, for tests. It can play an unavailable or failing service.
class InMemorySecretStore final : public SecretStore
{
public:
    QCoro::Task<ReadResult> read(QString service, QString key) override;
    QCoro::Task<Status> write(QString service, QString key, QByteArray data) override;
    QCoro::Task<Status> remove(QString service, QString key) override;

    // Every later call answers with this status instead of Ok (nothing = behave normally).
    void setFailure(std::optional<Status> status) { m_failure = status; }
    // Like setFailure, for writes only.
    void setWriteFailure(std::optional<Status> status) { m_writeFailure = status; }
    // Every later call finishes only after this long (0 = at once, within the call).
    void setDelay(std::chrono::milliseconds delay) { m_delay = delay; }

    std::optional<QByteArray> item(const QString &service, const QString &key) const;
    void setItem(const QString &service, const QString &key, const QByteArray &data);
    int itemCount() const { return int(m_items.size()); }
    int writeCount() const { return m_writes; }
    int removeCount() const { return m_removes; }
    int readCount() const { return m_reads; }

private:
    QCoro::Task<void> pause();
    static QString address(const QString &service, const QString &key) { return service + QChar(0) + key; }

    QHash<QString, QByteArray> m_items;
    std::optional<Status> m_failure;
    std::optional<Status> m_writeFailure;
    std::chrono::milliseconds m_delay{0};
    int m_writes = 0;
    int m_removes = 0;
    int m_reads = 0;
};
