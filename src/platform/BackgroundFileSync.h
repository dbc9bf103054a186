#pragma once

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

// Makes what was written to one file durable, off the calling thread. request() returns at
// once; a worker thread then syncs the file. Requests that arrive while a sync runs are
// answered by one more sync after it: coalesced, never dropped. The destructor runs the sync
// still owed before it returns.
//
// The store's window-side connection commits without waiting for the disk and asks for the
// write-ahead log to be synced here, so a click never waits on an fsync: a commit that
// returned survives a crash of the process at once, and a power cut once the sync ran,
// milliseconds later.
class BackgroundFileSync
{
public:
    // Called on the worker thread with the file's path. The default syncs the file's data
    // (a missing file is fine: there is nothing to sync) and, the first time it sees the
    // file or after the file was replaced, the folder entry that names it.
    using SyncFunction = std::function<void(const QString &path)>;

    explicit BackgroundFileSync(QString path, SyncFunction sync = {});
    ~BackgroundFileSync();
    BackgroundFileSync(const BackgroundFileSync &) = delete;
    BackgroundFileSync &operator=(const BackgroundFileSync &) = delete;

    void request();
    // Blocks until every sync requested before the call has run.
    void waitUntilSynced();

private:
    void run();
    void syncFileAndNewEntry(const QString &path);

    const QString m_path;
    const SyncFunction m_sync;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::uint64_t m_requested = 0; // requests made so far
    std::uint64_t m_synced = 0;    // requests a finished sync covers
    bool m_stopping = false;
    unsigned long long m_lastInode = 0; // worker thread only
    std::thread m_worker;
};
