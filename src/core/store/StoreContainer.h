#pragma once

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
class StoreContainer
{
public:
    // The schema version this program writes (PRAGMA user_version).
    static constexpr int schemaVersion = 2;

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
    // A new connection to the file, configured like every other.
    SqliteDatabase connect() const;

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
    std::map<int, Listener> m_listeners;
    int m_nextListenerId = 1;
};
