#include "platform/SqliteDatabase.h"

#include <QDeadlineTimer>
#include <QThread>

#include <sqlite3.h>

#include <mutex>
#include <utility>

// ---- SqliteStatement ----------------------------------------------------------------

SqliteStatement::SqliteStatement(SqliteDatabase *db, sqlite3_stmt *stmt, const std::string *cacheKey)
    : m_db(db)
    , m_stmt(stmt)
    , m_cacheKey(cacheKey)
{
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_db(std::exchange(other.m_db, nullptr))
    , m_stmt(std::exchange(other.m_stmt, nullptr))
    , m_cacheKey(std::exchange(other.m_cacheKey, nullptr))
{
}

SqliteStatement::~SqliteStatement()
{
    if (m_stmt)
        m_db->release(m_stmt, m_cacheKey);
}

SqliteStatement &SqliteStatement::bind(int index, const QString &value)
{
    const int rc = sqlite3_bind_text16(m_stmt, index, value.utf16(), int(value.size() * sizeof(char16_t)),
                                       SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        throw StoreError::fromSqlite(m_db->m_db, rc, QStringLiteral("bind"));
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, qint64 value)
{
    const int rc = sqlite3_bind_int64(m_stmt, index, value);
    if (rc != SQLITE_OK)
        throw StoreError::fromSqlite(m_db->m_db, rc, QStringLiteral("bind"));
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, double value)
{
    const int rc = sqlite3_bind_double(m_stmt, index, value);
    if (rc != SQLITE_OK)
        throw StoreError::fromSqlite(m_db->m_db, rc, QStringLiteral("bind"));
    return *this;
}

SqliteStatement &SqliteStatement::bindUtf8(int index, QByteArrayView utf8)
{
    // A null view would bind SQL NULL; an empty text is still a text.
    const char *data = utf8.data() ? utf8.data() : "";
    const int rc = sqlite3_bind_text64(m_stmt, index, data, sqlite3_uint64(utf8.size()), SQLITE_STATIC, SQLITE_UTF8);
    if (rc != SQLITE_OK)
        throw StoreError::fromSqlite(m_db->m_db, rc, QStringLiteral("bind"));
    return *this;
}

SqliteStatement &SqliteStatement::bindNull(int index)
{
    const int rc = sqlite3_bind_null(m_stmt, index);
    if (rc != SQLITE_OK)
        throw StoreError::fromSqlite(m_db->m_db, rc, QStringLiteral("bind"));
    return *this;
}

bool SqliteStatement::step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    // Reset at once: a failed statement must not keep its read transaction.
    StoreError error = StoreError::fromSqlite(m_db->m_db, rc, QString::fromUtf8(sqlite3_sql(m_stmt)));
    sqlite3_reset(m_stmt);
    throw error;
}

void SqliteStatement::run()
{
    while (step()) {
    }
    sqlite3_reset(m_stmt);
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_stmt);
}

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

QString SqliteStatement::text(int column) const
{
    // The file stores UTF-8; Qt's decoder is faster than SQLite's conversion to UTF-16.
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    if (!data)
        return QString();
    return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
}

QUtf8StringView SqliteStatement::textView(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    if (!data)
        return {};
    return QUtf8StringView(data, sqlite3_column_bytes(m_stmt, column));
}

std::optional<QString> SqliteStatement::optionalText(int column) const
{
    if (isNull(column))
        return std::nullopt;
    return text(column);
}

qint64 SqliteStatement::int64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

std::optional<qint64> SqliteStatement::optionalInt64(int column) const
{
    if (isNull(column))
        return std::nullopt;
    return int64(column);
}

double SqliteStatement::real(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

std::optional<double> SqliteStatement::optionalReal(int column) const
{
    if (isNull(column))
        return std::nullopt;
    return real(column);
}

// ---- SqliteDatabase -----------------------------------------------------------------

SqliteDatabase::SqliteDatabase(sqlite3 *db, QString path)
    : m_db(db)
    , m_path(std::move(path))
{
}

namespace {
void configureLibraryOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Memory statistics take a process-wide lock on every allocation; nothing here
        // reads them. Refused (harmlessly) when SQLite was already initialised.
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    });
}
} // namespace

SqliteDatabase SqliteDatabase::open(const QString &path, const Options &options)
{
    configureLibraryOnce();
    sqlite3 *raw = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (options.createIfMissing)
        flags |= SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &raw, flags, nullptr);
    if (rc != SQLITE_OK) {
        StoreError error = StoreError::fromSqlite(raw, rc, QStringLiteral("open %1").arg(path));
        sqlite3_close_v2(raw);
        throw error;
    }
    SqliteDatabase db(raw, path);
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, options.busyTimeoutMs);
    db.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    // Switching a new file to WAL needs it alone for a moment; another connection opening the
    // same new file at that moment makes SQLite answer "busy" without asking the busy handler,
    // so wait here as the busy handler would.
    for (const QDeadlineTimer deadline(options.busyTimeoutMs);;) {
        try {
            // journal_mode answers with the mode now in force.
            SqliteStatement wal = db.statement("PRAGMA journal_mode=WAL");
            wal.step();
            break;
        } catch (const StoreError &error) {
            if (!error.isBusy() || deadline.hasExpired())
                throw;
            QThread::msleep(5);
        }
    }
    db.exec(options.synchronousFull ? QStringLiteral("PRAGMA synchronous=FULL")
                                    : QStringLiteral("PRAGMA synchronous=NORMAL"));
    db.exec(QStringLiteral("PRAGMA cache_size=-%1").arg(options.cacheKiB));
    if (options.maxPageCount > 0) {
        // Answers with the limit now in force.
        const QByteArray sql = "PRAGMA max_page_count=" + QByteArray::number(options.maxPageCount);
        SqliteStatement limit = db.statement(sql.constData());
        limit.step();
    }
    return db;
}

SqliteDatabase::SqliteDatabase(SqliteDatabase &&other) noexcept
    : m_db(std::exchange(other.m_db, nullptr))
    , m_path(std::move(other.m_path))
    , m_depth(std::exchange(other.m_depth, 0))
    , m_idle(std::move(other.m_idle))
{
}

SqliteDatabase &SqliteDatabase::operator=(SqliteDatabase &&other) noexcept
{
    if (this != &other) {
        close();
        m_db = std::exchange(other.m_db, nullptr);
        m_path = std::move(other.m_path);
        m_depth = std::exchange(other.m_depth, 0);
        m_idle = std::move(other.m_idle);
    }
    return *this;
}

SqliteDatabase::~SqliteDatabase()
{
    close();
}

void SqliteDatabase::close() noexcept
{
    if (!m_db)
        return;
    for (auto &[sql, list] : m_idle) {
        for (sqlite3_stmt *stmt : list)
            sqlite3_finalize(stmt);
    }
    m_idle.clear();
    if (!sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void SqliteDatabase::exec(const QString &sql)
{
    char *err = nullptr;
    const int rc = sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &err);
    if (err)
        sqlite3_free(err);
    if (rc != SQLITE_OK)
        throw StoreError::fromSqlite(m_db, rc, sql.left(80));
}

SqliteStatement SqliteDatabase::statement(const char *sql)
{
    auto it = m_idle.try_emplace(std::string(sql)).first;
    if (!it->second.empty()) {
        sqlite3_stmt *stmt = it->second.back();
        it->second.pop_back();
        return SqliteStatement(this, stmt, &it->first);
    }
    sqlite3_stmt *stmt = nullptr;
    const int rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK)
        throw StoreError::fromSqlite(m_db, rc, QString::fromUtf8(sql));
    // Keys of an unordered_map are stable, so the handle may point at this one.
    return SqliteStatement(this, stmt, &it->first);
}

void SqliteDatabase::release(sqlite3_stmt *stmt, const std::string *cacheKey) noexcept
{
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (!m_db || !cacheKey) {
        sqlite3_finalize(stmt);
        return;
    }
    m_idle[*cacheKey].push_back(stmt);
}

qint64 SqliteDatabase::lastInsertRowId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

int SqliteDatabase::changes() const
{
    return sqlite3_changes(m_db);
}

bool SqliteDatabase::inTransaction() const
{
    return !sqlite3_get_autocommit(m_db);
}

int SqliteDatabase::userVersion()
{
    SqliteStatement q = statement("PRAGMA user_version");
    q.step();
    return int(q.int64(0));
}

void SqliteDatabase::setUserVersion(int version)
{
    exec(QStringLiteral("PRAGMA user_version=%1").arg(version));
}

QString SqliteDatabase::integrityCheck()
{
    SqliteStatement q = statement("PRAGMA integrity_check");
    return q.step() ? q.text(0) : QString();
}

// ---- SqliteTransaction --------------------------------------------------------------

SqliteTransaction::SqliteTransaction(SqliteDatabase &db, Mode mode)
    : m_db(db)
    , m_level(db.m_depth + 1)
{
    if (m_level == 1) {
        m_db.exec(mode == Mode::Immediate ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
    } else {
        if (!m_db.inTransaction())
            throw StoreError(StoreError::Kind::TransactionLost, 0,
                             QStringLiteral("the enclosing transaction was ended by the engine"));
        m_db.exec(QStringLiteral("SAVEPOINT sp%1").arg(m_level));
    }
    m_db.m_depth = m_level;
}

SqliteTransaction::~SqliteTransaction()
{
    if (m_active)
        rollback();
}

void SqliteTransaction::commit()
{
    if (!m_active)
        return;
    if (!m_db.inTransaction()) {
        // An I/O error or out-of-memory condition rolled the whole transaction back.
        m_active = false;
        m_db.m_depth = m_level - 1;
        throw StoreError(StoreError::Kind::TransactionLost, 0,
                         QStringLiteral("the transaction was rolled back by the engine"));
    }
    m_db.exec(m_level == 1 ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE sp%1").arg(m_level));
    m_active = false;
    m_db.m_depth = m_level - 1;
}

void SqliteTransaction::rollback() noexcept
{
    if (!m_active)
        return;
    m_active = false;
    m_db.m_depth = m_level - 1;
    if (!m_db.m_db || !m_db.inTransaction())
        return; // already gone with the whole transaction
    if (m_level == 1) {
        sqlite3_exec(m_db.m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    } else {
        const QByteArray sql = QStringLiteral("ROLLBACK TO sp%1; RELEASE sp%1").arg(m_level).toUtf8();
        sqlite3_exec(m_db.m_db, sql.constData(), nullptr, nullptr, nullptr);
    }
}
