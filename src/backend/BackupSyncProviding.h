#pragma once

#include "backend/BackupSyncError.h"
#include "platform/Cancellation.h"

#include <QByteArray>

#include <qcoro/qcorotask.h>

#include <optional>

// Moves the user's backup file to and from the backend. The bytes are opaque here.
class BackupSyncProviding
{
public:
    virtual ~BackupSyncProviding() = default;

    // Replaces the stored backup; returns the size in bytes the backend reports it stored.
    // Fails with BackupSyncError (a fired token ends as `transport`).
    virtual QCoro::Task<qint64> upload(QByteArray data, CancellationToken token = {}) = 0;
    // The stored backup, or nothing when the backend holds none (that is not a failure).
    // Fails with BackupSyncError.
    virtual QCoro::Task<std::optional<QByteArray>> download(CancellationToken token = {}) = 0;
};
