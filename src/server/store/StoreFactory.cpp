#include "server/store/StoreFactory.h"

#include "server/store/postgres/PostgresStore.h"
#include "server/store/sqlite/SqliteServerStore.h"

#include <QDir>

namespace server {

std::unique_ptr<ServerStore> openServerStore(const QString &databaseUrl, const QString &dataFolder,
                                             SqliteWriteOptions writes)
{
    if (databaseUrl.startsWith(QLatin1String("postgresql://")) || databaseUrl.startsWith(QLatin1String("postgres://")))
        return openPostgresStore(databaseUrl);
    if (!QDir().mkpath(dataFolder))
        throw StoreError("cannot create the data folder " + dataFolder.toStdString());
    return std::make_unique<SqliteServerStore>(QDir(dataFolder).filePath(QStringLiteral("cantorella.sqlite")), writes);
}

} // namespace server
