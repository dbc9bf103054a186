#include "platform/SqliteError.h"

#include <sqlite3.h>

StoreError::StoreError(Kind kind, int extendedCode, QString message)
    : m_kind(kind)
    , m_extendedCode(extendedCode)
    , m_message(std::move(message))
    , m_what(m_message.toUtf8())
{
}

StoreError StoreError::fromSqlite(sqlite3 *db, int rc, const QString &context)
{
    int extended = rc;
    QString text;
    if (db) {
        // sqlite3_extended_errcode reports the most recent failure on this connection,
        // which is the one that produced rc.
        extended = sqlite3_extended_errcode(db);
        if ((extended & 0xff) != (rc & 0xff))
            extended = rc;
        text = QString::fromUtf8(sqlite3_errmsg(db));
    } else {
        text = QString::fromUtf8(sqlite3_errstr(rc));
    }
    QString message = context.isEmpty()
        ? QStringLiteral("%1 (SQLite %2)").arg(text).arg(extended)
        : QStringLiteral("%1: %2 (SQLite %3)").arg(context, text).arg(extended);
    return StoreError(Kind::Sqlite, extended, message);
}

bool StoreError::isConstraintViolation() const
{
    return m_kind == Kind::Sqlite && resultCode() == SQLITE_CONSTRAINT;
}

bool StoreError::isBusy() const
{
    return m_kind == Kind::Sqlite && (resultCode() == SQLITE_BUSY || resultCode() == SQLITE_LOCKED);
}
