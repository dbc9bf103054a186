#pragma once

#include "platform/BackgroundFileSync.h"
#include "platform/SqliteDatabase.h"

#include <QMutex>
#include <QSet>
#include <QString>

#include <functional>
#include <map>
#include <memory>

// The per-user store file: where it lives, its schema, and the channel through which the
// contexts working on it (one per thread) learn of each other's commits. Opening it
// creates the file when missing and brings its schema up to date; every context then
// opens a connection of its own. Shared between threads; everything here is thread-safe.
// Always owned by shared pointers (open() makes it so), so any holder can share it.
class StoreContainer : public std::enable_shared_from_this<StoreContainer>
{
public:
    // The schema version this program writes (PRAGMA user_version).
    static constexpr int schemaVersion = 3;

    // "default-" + userId + "-en.store". A user id is only accepted when it is non-empty, at
    // most 128 characters, and made of ASCII letters, digits, '-' and '_'; anything else throws
    // StoreError(InvalidUserId) before it can reach a file name.
    static QString fileNameForUser(const QString &userId);
    // The program's data folder: the generic data location + "/com.cantorella.Cantorella".
    static QString defaultFolder();

    // Opens (creating when missing, migrating when older) the store at `path`. Throws
    // StoreError when the file cannot be opened, is newer than this program, or a
    // migration step fails (that step is rolled back and the file keeps its version).
    static std::shared_ptr<StoreContainer> open(const QString &path,
                                                const SqliteDatabase::Options &options = {});
    // Creates `folder` when missing and opens the user's store file inside it.
    static std::shared_ptr<StoreContainer> openForUser(const QString &folder, const QString &userId,
                                                       const SqliteDatabase::Options &options = {});

    QString path() const { return m_path; }

    // When a connection's commit reaches the disk.
    enum class CommitSync {
        // The commit returns once the log is synced (connections off the window's thread).
        BeforeReturn,
        // The commit returns once written; the owner then calls syncLogInBackground(), so
        // the window's thread never waits on the disk. A crash of the process loses nothing;
        // a power cut can lose the commits of the last milliseconds, never the file's
        // consistency.
        InBackground,
    };
    // A new connection to the file, configured like every other.
    SqliteDatabase connect(CommitSync sync = CommitSync::BeforeReturn);
    // Syncs the write-ahead log on a worker thread; the sync still owed when the container
    // goes runs before it is gone. Only after connect(InBackground).
    void syncLogInBackground();

    // Commit notifications between contexts. A listener is called on the committing
    // thread with the song keys whose rows (or cards) the commit changed.
    using Listener = std::function<void(const QSet<QString> &songKeys)>;
    int addListener(Listener listener);
    void removeListener(int id);
    void publishCommit(int sourceListenerId, const QSet<QString> &songKeys);

private:
    StoreContainer(QString path, SqliteDatabase::Options options);
    static void migrate(SqliteDatabase &db);

    QString m_path;
    SqliteDatabase::Options m_options;
    QMutex m_mutex;
    std::unique_ptr<BackgroundFileSync> m_logSync; // made by the first connect(InBackground)
    std::map<int, Listener> m_listeners;
    int m_nextListenerId = 1;
};
