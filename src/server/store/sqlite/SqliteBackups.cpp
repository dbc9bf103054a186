// SqliteServerStore's backups: documents in files beside the database (BackupFiles), the rows
// that point at them, and documents still kept in their rows by an older release.

#include "server/store/sqlite/SqliteServerStore.h"

#include "server/store/sqlite/BackupFiles.h"
#include "server/store/sqlite/SqliteStoreTransactions.h"

#include "platform/SqliteDatabase.h"

#include <QString>

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace server {
namespace {

// A backup document is read and written in pieces of this size.
constexpr std::size_t backupPiece = 256 * 1024;

} // namespace

bool SqliteServerStore::writeBackup(const QString &userId, const QString &ns, std::size_t size,
                                    const BackupSource &source, qint64 storedAt, std::size_t accountQuota)
{
    // The document goes to a file of its own outside the write queue (`source` reads what has
    // arrived already, never the network); the write is one small transaction that checks the
    // quota and points the row at the file. A file left by a failure here is deleted at once,
    // one left by a process that died is swept by the next prune.
    const std::unique_ptr<BackupFiles::NewFile> file = m_files->create();
    bool stored = false;
    std::optional<QString> replaced;
    try {
        file->fill(size, source);
        write("putBackup", [&](SqliteDatabase &connection) {
            SqliteStatement others = connection.statement(
                "SELECT coalesce(sum(coalesce(size_bytes, length(document))), 0) FROM backups "
                "WHERE user_id = ? AND namespace <> ?");
            others.bind(1, userId).bind(2, ns);
            const auto taken = std::size_t(others.step() ? std::max<qint64>(0, others.int64(0)) : 0);
            if (taken > accountQuota || size > accountQuota - taken)
                return;
            SqliteStatement previous = connection.statement("SELECT file FROM backups WHERE user_id = ? AND namespace = ?");
            previous.bind(1, userId).bind(2, ns);
            if (previous.step() && !previous.isNull(0))
                replaced = previous.text(0);
            connection.statement("INSERT INTO backups(user_id, namespace, stored_at, document, file, size_bytes) "
                                 "VALUES(?, ?, ?, x'', ?, ?) ON CONFLICT(user_id, namespace) DO UPDATE SET "
                                 "stored_at = excluded.stored_at, document = excluded.document, file = excluded.file, "
                                 "size_bytes = excluded.size_bytes")
                .bind(1, userId).bind(2, ns).bind(3, storedAt).bind(4, QString::fromStdString(file->name()))
                .bind(5, qint64(size)).run();
            stored = true;
        });
    } catch (...) {
        file->discard();
        throw;
    }
    if (!stored)
        file->discard();
    else if (replaced)
        m_files->remove(replaced->toStdString()); // readers that opened it keep reading it
    return stored;
}

std::optional<OpenedBackup> SqliteServerStore::openBackup(const QString &userId, const QString &ns)
{
    return guarded("openBackup", [&]() -> std::optional<OpenedBackup> {
        // The file a row names may be replaced (and deleted) between the look and the open: then
        // the row names its successor.
        for (;;) {
            SqliteStatement query = db().statement("SELECT rowid, stored_at, file, coalesce(size_bytes, length(document)) "
                                                   "FROM backups WHERE user_id = ? AND namespace = ?");
            query.bind(1, userId).bind(2, ns);
            if (!query.step())
                return std::nullopt;
            OpenedBackup opened;
            opened.info.storedAt = query.int64(1);
            opened.info.sizeBytes = std::size_t(query.int64(3));
            if (query.isNull(2)) { // stored in the row: read through readBackup
                opened.info.version = QStringLiteral("row-%1-%2").arg(query.int64(0)).arg(query.int64(1)).toStdString();
                return opened;
            }
            opened.info.version = query.text(2).toStdString();
            opened.bytes = m_files->open(opened.info.version, opened.info.sizeBytes);
            if (opened.bytes)
                return opened;
        }
    });
}

std::optional<BackupInfo> SqliteServerStore::readBackup(const QString &userId, const QString &ns, const BackupSink &sink)
{
    std::optional<OpenedBackup> opened = openBackup(userId, ns);
    if (opened && opened->bytes) {
        std::vector<char> piece(std::min(opened->info.sizeBytes, backupPiece));
        for (std::size_t offset = 0; offset < opened->info.sizeBytes;) {
            const std::size_t length = opened->bytes->readAt(offset, piece.data(), piece.size());
            if (length == 0)
                throw server::StoreError("SQLite backup: a document file ended early");
            sink(offset, piece.data(), length);
            offset += length;
        }
        return opened->info;
    }
    return guarded("backup", [&]() -> std::optional<BackupInfo> {
        SqliteDatabase &connection = db();
        SqliteTransaction transaction(connection, SqliteTransaction::Mode::Deferred);
        qint64 rowId = 0;
        BackupInfo stored;
        {
            SqliteStatement query = connection.statement(
                "SELECT rowid, stored_at, file FROM backups WHERE user_id = ? AND namespace = ?");
            query.bind(1, userId).bind(2, ns);
            if (!query.step())
                return std::nullopt;
            if (!query.isNull(2)) // replaced by a document file since the look above
                throw StoreBusyError("SQLite backup: replaced while read", 1);
            rowId = query.int64(0);
            stored.storedAt = query.int64(1);
            stored.version = QStringLiteral("row-%1-%2").arg(rowId).arg(stored.storedAt).toStdString();
        }
        sqlite3_blob *blob = nullptr;
        int rc = sqlite3_blob_open(connection.handle(), "main", "backups", "document", rowId, 0, &blob);
        if (rc != SQLITE_OK)
            throw ::StoreError::fromSqlite(connection.handle(), rc, QStringLiteral("blob open"));
        const int size = sqlite3_blob_bytes(blob);
        stored.sizeBytes = std::size_t(size);
        std::vector<char> piece(std::min(std::size_t(size), backupPiece));
        try {
            for (int offset = 0; rc == SQLITE_OK && offset < size; offset += int(piece.size())) {
                const int length = std::min(int(piece.size()), size - offset);
                rc = sqlite3_blob_read(blob, piece.data(), length, offset);
                if (rc == SQLITE_OK)
                    sink(std::size_t(offset), piece.data(), std::size_t(length));
            }
        } catch (...) {
            sqlite3_blob_close(blob);
            throw;
        }
        sqlite3_blob_close(blob);
        if (rc != SQLITE_OK)
            throw ::StoreError::fromSqlite(connection.handle(), rc, QStringLiteral("blob read"));
        transaction.commit();
        return stored;
    });
}

qint64 SqliteServerStore::backupBytes(const QString &userId, const QString &except)
{
    return guarded("backupBytes", [&] {
        // length() of a blob reads the record's header, not the document.
        SqliteStatement query = db().statement(
            "SELECT coalesce(sum(coalesce(size_bytes, length(document))), 0) FROM backups WHERE user_id = ? AND namespace <> ?");
        query.bind(1, userId).bind(2, except);
        return query.step() ? query.int64(0) : qint64(0);
    });
}

} // namespace server
