#pragma once

#include "server/store/ServerStore.h"

#include <QString>

#include <memory>

namespace server {

// The store on PostgreSQL 15, for several server processes on one database. `url` is a libpq
// connection URI (postgresql://user@host:port/db?...). Creates or upgrades the schema before it
// answers, safely when several processes start at once. Throws StoreError when the database
// cannot be reached; the message never carries the URL's password.
std::unique_ptr<ServerStore> openPostgresStore(const QString &url);

// `url` with any password (user:password@ or password=...) replaced by "***", for messages and logs.
QString redactedDatabaseUrl(const QString &url);

} // namespace server
