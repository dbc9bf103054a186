#pragma once

#include "platform/SqliteError.h"

#include <QByteArrayView>
#include <QString>
#include <QUtf8StringView>

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class SqliteDatabase;

// A prepared statement borrowed from its connection's cache. Destroying the handle
// resets the statement and clears its bindings before it goes back to the cache, so no
// statement is ever left mid-step: a statement left stepping would hold a read
// transaction open and pin an old snapshot of the file, and this connection would
// never see the other connections' newer commits.
// A handle must not outlive its SqliteDatabase.
class SqliteStatement
{
public:
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement &operator=(SqliteStatement &&) = delete;
    SqliteStatement(const SqliteStatement &) = delete;
    ~SqliteStatement();

    // Parameters are 1-based, as in SQL.
    SqliteStatement &bind(int index, const QString &value);
    SqliteStatement &bind(int index, qint64 value);
    SqliteStatement &bind(int index, int value) { return bind(index, qint64(value)); }
    SqliteStatement &bind(int index, bool value) { return bind(index, qint64(value ? 1 : 0)); }
    SqliteStatement &bind(int index, double value);
    SqliteStatement &bindNull(int index);
    // UTF-8 text bound without a copy: the bytes must stay valid until the statement has run.
    SqliteStatement &bindUtf8(int index, QByteArrayView utf8);
    template<class T>
    SqliteStatement &bind(int index, const std::optional<T> &value)
    {
        return value ? bind(index, *value) : bindNull(index);
    }

    // Steps once: true when a row is available, false when the statement is done.
    bool step();
    // Steps to the end, for statements that return no rows.
    void run();
    // Resets for another execution with the same or new bindings.
    void reset();

    // Columns are 0-based.
    bool isNull(int column) const;
    QString text(int column) const;
    // The UTF-8 bytes of a text column, valid until the statement steps or resets.
    QUtf8StringView textView(int column) const;
    std::optional<QString> optionalText(int column) const;
    qint64 int64(int column) const;
    std::optional<qint64> optionalInt64(int column) const;
    double real(int column) const;
    std::optional<double> optionalReal(int column) const;
    bool boolean(int column) const { return int64(column) != 0; }

private:
    friend class SqliteDatabase;
    SqliteStatement(SqliteDatabase *db, sqlite3_stmt *stmt, const std::string *cacheKey);

    SqliteDatabase *m_db;
    sqlite3_stmt *m_stmt;
    const std::string *m_cacheKey; // null for statements not kept in the cache
};

// One SQLite connection, configured the same way every time: extended result codes,
// foreign keys enforced, write-ahead log, a busy timeout. Used by one thread at a time.
class SqliteDatabase
{
public:
    struct Options {
        int busyTimeoutMs = 5000;
        // FULL syncs the log on every commit: a commit that returned survives a power cut,
        // not only a crash of the process.
        bool synchronousFull = true;
        bool createIfMissing = true;
        // Page cache of each connection. A library of 10,000 songs is about 40 MB; the
        // list queries touch pages all over it.
        int cacheKiB = 32 * 1024;
        // The most pages the file may grow to through this connection (0: SQLite's own
        // limit); a write past it fails with SQLITE_FULL, as on a full disk.
        qint64 maxPageCount = 0;
    };

    static SqliteDatabase open(const QString &path, const Options &options);
    static SqliteDatabase open(const QString &path) { return open(path, Options{}); }

    SqliteDatabase(SqliteDatabase &&other) noexcept;
    SqliteDatabase &operator=(SqliteDatabase &&other) noexcept;
    SqliteDatabase(const SqliteDatabase &) = delete;
    ~SqliteDatabase();

    // Runs one or more statements that return nothing (schema changes, pragmas).
    void exec(const QString &sql);
    // A cached prepared statement for `sql`. The text is the cache key, so pass the same
    // literal every time.
    SqliteStatement statement(const char *sql);

    qint64 lastInsertRowId() const;
    int changes() const;
    bool inTransaction() const;
    int userVersion();
    void setUserVersion(int version);
    // Text of the first row of `PRAGMA integrity_check`: "ok" for a sound file.
    QString integrityCheck();

    // Depth of open SqliteTransaction objects on this connection (0 = none).
    int transactionDepth() const { return m_depth; }

    QString path() const { return m_path; }
    sqlite3 *handle() const { return m_db; }

private:
    friend class SqliteStatement;
    friend class SqliteTransaction;
    SqliteDatabase(sqlite3 *db, QString path);
    void release(sqlite3_stmt *stmt, const std::string *cacheKey) noexcept;
    void close() noexcept;

    sqlite3 *m_db = nullptr;
    QString m_path;
    int m_depth = 0;
    // Idle prepared statements by SQL text. A statement in use is out of the list, so a
    // nested use of the same SQL prepares a second one.
    std::unordered_map<std::string, std::vector<sqlite3_stmt *>> m_idle;
};

// A transaction on a connection. The outermost one is BEGIN (IMMEDIATE for anything that
// may write, so the write lock is taken up front and a later write cannot fail on a stale
// snapshot); transactions opened inside it are savepoints. A transaction that is neither
// committed nor rolled back rolls back when destroyed.
class SqliteTransaction
{
public:
    enum class Mode { Deferred, Immediate };

    explicit SqliteTransaction(SqliteDatabase &db, Mode mode = Mode::Immediate);
    SqliteTransaction(const SqliteTransaction &) = delete;
    ~SqliteTransaction();

    void commit();
    void rollback() noexcept;
    bool isNested() const { return m_level > 1; }
    bool isActive() const { return m_active; }

private:
    SqliteDatabase &m_db;
    int m_level;
    bool m_active = true;
};
