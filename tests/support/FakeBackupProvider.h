#pragma once

#include "FakeBackendCall.h"
#include "backend/BackupSyncProviding.h"

#include <QStringList>

// The backend's backup slot faked per call; remembers what was uploaded. Each call is noted
// in `log` when one is given.
class FakeBackupProvider final : public BackupSyncProviding
{
public:
    QCoro::Task<qint64> upload(QByteArray data, CancellationToken token = {}) override
    {
        uploads.append(data);
        if (log)
            log->append(QStringLiteral("upload"));
        return uploadScript.play(token);
    }

    QCoro::Task<std::optional<QByteArray>> download(CancellationToken token = {}) override
    {
        if (log)
            log->append(QStringLiteral("download"));
        return downloadScript.play(token);
    }

    FakeCallScript<qint64> uploadScript;
    FakeCallScript<std::optional<QByteArray>> downloadScript;
    QList<QByteArray> uploads;
    QStringList *log = nullptr;
};
