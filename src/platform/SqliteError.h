#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

struct sqlite3;

// The one error type of the store engine and of the stores built on it. It carries
// SQLite's extended result code (so callers can tell a constraint violation from a
// full disk or a busy database) and the engine's message. Thrown unchanged through
// the stores to their callers.
class StoreError : public std::exception
{
public:
    enum class Kind {
        Sqlite,            // SQLite reported an error; see extendedCode()
        InvalidUserId,     // a user id that cannot become part of a file name
        UnsupportedSchema, // the file was written by a newer program (user_version too high)
        TransactionLost,   // the engine ended a transaction on its own (I/O error, out of memory)
        FileSystem,        // the store's folder could not be created
    };

    StoreError(Kind kind, int extendedCode, QString message);

    // Builds the error from the connection's current error state after `rc`.
    static StoreError fromSqlite(sqlite3 *db, int rc, const QString &context = {});

    Kind kind() const { return m_kind; }
    // SQLite's primary result code (SQLITE_CONSTRAINT, SQLITE_BUSY, ...); 0 for non-SQLite kinds.
    int resultCode() const { return m_extendedCode & 0xff; }
    // SQLite's extended result code (SQLITE_CONSTRAINT_UNIQUE, SQLITE_IOERR_WRITE, ...).
    int extendedCode() const { return m_extendedCode; }
    QString message() const { return m_message; }

    bool isConstraintViolation() const;
    bool isBusy() const;

    const char *what() const noexcept override { return m_what.constData(); }

private:
    Kind m_kind;
    int m_extendedCode;
    QString m_message;
    QByteArray m_what;
};
