#include "server/store/postgres/PgBackups.h"

#include "server/store/postgres/PgValues.h"

#include <pqxx/binarystring>
#include <pqxx/result>
#include <pqxx/transaction>

#include <algorithm>
#include <vector>

namespace server::pg {

namespace {

// A backup document travels in pieces of this size (see the schema). Documents stored before in
// larger pieces read the same: a reader follows the header's chunk count, not this size.
constexpr std::size_t kChunkBytes = 1024 * 1024;

// The header's row version (xmin: the transaction that wrote it) tells one upload from the next.
constexpr const char *kBackupHeader =
    "SELECT size_bytes, chunk_count, stored_at, xmin::text FROM backups WHERE user_id = $1 AND namespace = $2";

BackupInfo infoFrom(const pqxx::row &header)
{
    BackupInfo info;
    info.sizeBytes = std::size_t(header[0].as<long long>());
    info.storedAt = header[2].as<long long>();
    info.version = header[3].as<std::string>();
    return info;
}

} // namespace

bool Backups::writeBackup(const QString &userId, const QString &ns, std::size_t size, const BackupSource &source,
                          qint64 storedAt, std::size_t accountQuota)
{
    const auto chunks = (size + kChunkBytes - 1) / kChunkBytes;
    std::vector<char> piece(std::min(size, kChunkBytes));
    return m_pool.runTransfer([&](pqxx::connection &connection) {
        pqxx::work tx(connection);
        // The account's uploads take turns (a lock for the transaction), so that the quota
        // check below and the write are one step across every namespace and process.
        tx.exec_params("SELECT pg_advisory_xact_lock(hashtextextended($1, 7))", "backup:" + str(userId));
        const auto taken = std::size_t(std::max<long long>(
            0, tx.exec_params1("SELECT coalesce(sum(size_bytes), 0) FROM backups WHERE user_id = $1 AND namespace <> $2",
                               str(userId), str(ns))[0]
                   .as<long long>()));
        if (taken > accountQuota || size > accountQuota - taken)
            return false;
        tx.exec_params("INSERT INTO backups (user_id, namespace, size_bytes, chunk_count, stored_at)"
                       " VALUES ($1, $2, $3, $4, $5) ON CONFLICT (user_id, namespace) DO UPDATE SET"
                       " size_bytes = EXCLUDED.size_bytes, chunk_count = EXCLUDED.chunk_count,"
                       " stored_at = EXCLUDED.stored_at",
                       str(userId), str(ns), static_cast<long long>(size), static_cast<int>(chunks),
                       static_cast<long long>(storedAt));
        tx.exec_params("DELETE FROM backup_chunks WHERE user_id = $1 AND namespace = $2", str(userId), str(ns));
        for (std::size_t seq = 0; seq < chunks; ++seq) {
            const auto length = std::min(kChunkBytes, size - seq * kChunkBytes);
            std::size_t filled = 0;
            while (filled < length) {
                const std::size_t got = source(seq * kChunkBytes + filled, piece.data() + filled, length - filled);
                if (got == 0)
                    throw StoreError("PostgreSQL: the backup document ended early");
                filled += got;
            }
            tx.exec_params("INSERT INTO backup_chunks (user_id, namespace, seq, data) VALUES ($1, $2, $3, $4)",
                           str(userId), str(ns), static_cast<int>(seq), bytes(piece.data(), length));
        }
        tx.commit();
        return true;
    });
}

std::optional<OpenedBackup> Backups::openBackup(const QString &userId, const QString &ns)
{
    return m_pool.run([&](pqxx::connection &connection) -> std::optional<OpenedBackup> {
        pqxx::read_transaction tx(connection);
        const auto header = tx.exec_params(kBackupHeader, str(userId), str(ns));
        if (header.empty())
            return std::nullopt;
        return OpenedBackup{infoFrom(header[0]), nullptr};
    });
}

std::optional<BackupInfo> Backups::readBackup(const QString &userId, const QString &ns, const BackupSink &sink)
{
    return m_pool.runTransfer([&](pqxx::connection &connection) -> std::optional<BackupInfo> {
        // One snapshot for the header and every chunk, however many uploads commit meanwhile.
        pqxx::transaction<pqxx::repeatable_read, pqxx::read_only> tx(connection);
        const auto header = tx.exec_params(kBackupHeader, str(userId), str(ns));
        if (header.empty())
            return std::nullopt;
        const BackupInfo stored = infoFrom(header[0]);
        const auto chunks = header[0][1].as<int>();
        std::size_t handed = 0;
        for (int seq = 0; seq < chunks; ++seq) {
            const auto chunk = tx.exec_params(
                "SELECT data FROM backup_chunks WHERE user_id = $1 AND namespace = $2 AND seq = $3", str(userId),
                str(ns), seq);
            if (chunk.empty())
                break;
            const pqxx::binarystring data(chunk[0][0]);
            sink(handed, data.get(), data.size());
            handed += data.size();
        }
        if (handed != stored.sizeBytes)
            throw StoreError("PostgreSQL: a stored backup is incomplete");
        return stored;
    });
}

qint64 Backups::backupBytes(const QString &userId, const QString &except)
{
    return m_pool.run([&](pqxx::connection &connection) {
        pqxx::read_transaction tx(connection);
        return static_cast<qint64>(
            tx.exec_params1("SELECT coalesce(sum(size_bytes), 0) FROM backups WHERE user_id = $1 AND namespace <> $2",
                            str(userId), str(except))[0]
                .as<long long>());
    });
}

} // namespace server::pg
