#pragma once

#include "server/store/ServerStore.h"
#include "server/store/postgres/PgPool.h"

#include <QString>

#include <optional>

namespace server::pg {

// The PostgreSQL store's backups: a header row per user and namespace (size, chunk count, time)
// and the document in chunks of its own table, written and read in one transaction each on the
// pool's connections for transfers. The methods are ServerStore's of the same names.
class Backups
{
public:
    explicit Backups(Pool &pool) : m_pool(pool) {}

    bool writeBackup(const QString &userId, const QString &ns, std::size_t size, const BackupSource &source,
                     qint64 storedAt, std::size_t accountQuota);
    std::optional<OpenedBackup> openBackup(const QString &userId, const QString &ns);
    std::optional<BackupInfo> readBackup(const QString &userId, const QString &ns, const BackupSink &sink);
    qint64 backupBytes(const QString &userId, const QString &except);

private:
    Pool &m_pool;
};

} // namespace server::pg
