#pragma once

#include "server/store/ServerStore.h"
#include "server/store/sqlite/SqliteServerStore.h"

#include <QString>

#include <memory>

namespace server {

// The store a configuration names: a postgresql:// (or postgres://) URL opens PostgreSQL;
// anything else (empty) the SQLite file "cantorella.sqlite" in `dataFolder`, whose writers line
// up as `writes` says. Throws StoreError.
std::unique_ptr<ServerStore> openServerStore(const QString &databaseUrl, const QString &dataFolder,
                                             SqliteWriteOptions writes = {});

} // namespace server
