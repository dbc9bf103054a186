#pragma once

// The two ways SqliteServerStore's methods reach the file, shared by its translation units:
// guarded() maps SQLite's failures to the store's errors; write() takes this process's turn and
// runs the work in one IMMEDIATE transaction.

#include "server/store/sqlite/SqliteServerStore.h"

#include "platform/SqliteDatabase.h"

#include <sqlite3.h>

#include <string>
#include <type_traits>

namespace server {

template<class Work>
auto SqliteServerStore::guarded(const char *what, Work &&work) -> decltype(work())
{
    try {
        return work();
    } catch (const ::StoreError &error) {
        // Another process held the write lock past the busy time-out: a try again, not a fault.
        if (error.isBusy())
            throw StoreBusyError(std::string("SQLite ") + what + ": the database is locked", m_writes.retryAfterSeconds());
        if (error.resultCode() == SQLITE_FULL)
            throw StoreFullError(std::string("SQLite ") + what + ": " + error.what());
        throw server::StoreError(std::string("SQLite ") + what + ": " + error.what());
    }
}

template<class Work>
auto SqliteServerStore::write(const char *what, Work &&work) -> decltype(work(std::declval<SqliteDatabase &>()))
{
    const WriteQueue::Turn turn(m_writes);
    return guarded(what, [&] {
        SqliteDatabase &connection = db();
        SqliteTransaction transaction(connection);
        if constexpr (std::is_void_v<decltype(work(connection))>) {
            work(connection);
            transaction.commit();
        } else {
            auto result = work(connection);
            transaction.commit();
            return result;
        }
    });
}

} // namespace server
