#include "backend/BackupSyncError.h"

BackupSyncError::BackupSyncError(Kind kind, int status)
    : m_kind(kind), m_status(status)
{
    m_what = description().toUtf8();
}

QString BackupSyncError::description() const
{
    switch (m_kind) {
    case Kind::server:
        return QStringLiteral("server(%1)").arg(m_status);
    case Kind::unauthorized:
        return QStringLiteral("unauthorized");
    case Kind::tooLarge:
        return QStringLiteral("tooLarge");
    case Kind::transport:
        return QStringLiteral("transport");
    case Kind::decode:
        return QStringLiteral("decode");
    }
    return QString();
}
