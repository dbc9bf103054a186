#pragma once

#include "server/store/ServerStore.h"

#include <QString>

#include <memory>

namespace server {

// The store a configuration names: a postgresql:// (or postgres://) URL opens PostgreSQL;
// anything else (empty) the SQLite file "cantorella.sqlite" in `dataFolder`. Throws StoreError.
std::unique_ptr<ServerStore> openServerStore(const QString &databaseUrl, const QString &dataFolder);

} // namespace server
