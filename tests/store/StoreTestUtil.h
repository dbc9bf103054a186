#pragma once

// Helpers shared by the store tests.

#include "core/GoldenCard.h"
#include "core/store/StoreContainer.h"

#include <qcoro/qcorotask.h>
#include <QTemporaryDir>
#include <QTest>

#include <exception>
#include <memory>
#include <optional>

struct TempStore
{
    QTemporaryDir dir;
    QString path;
    std::shared_ptr<StoreContainer> container;

    TempStore()
    {
        path = dir.filePath(QStringLiteral("default-test-en.store"));
        container = StoreContainer::open(path);
    }

    // A plain connection for looking at or tampering with the file behind the stores' backs.
    SqliteDatabase raw() const { return SqliteDatabase::open(path); }

    // Makes every write matching `when` on `table` fail with a constraint error.
    void failWrites(const QString &event, const QString &table, const QString &when) const
    {
        SqliteDatabase db = raw();
        db.exec(QStringLiteral("CREATE TRIGGER injected_failure BEFORE %1 ON %2 WHEN %3 BEGIN "
                               "SELECT RAISE(ABORT, 'injected failure'); END")
                    .arg(event, table, when));
    }
    void stopFailing() const { raw().exec(QStringLiteral("DROP TRIGGER IF EXISTS injected_failure")); }

    qint64 count(const QString &sqlText) const
    {
        SqliteDatabase db = raw();
        const QByteArray sql = sqlText.toUtf8();
        SqliteStatement st = db.statement(sql.constData());
        st.step();
        return st.int64(0);
    }
};

inline GoldenCard golden(const QString &en, const QString &tag, const QString &cn = QStringLiteral("cn"),
                         std::optional<double> time = std::nullopt)
{
    GoldenCard card;
    card.en = en;
    card.cn = cn;
    card.note = QStringLiteral("note");
    card.example = QStringLiteral("example");
    card.tag = tag;
    card.lineTimestamp = time;
    return card;
}

namespace detail {
// QCoro's waitFor never returns when the task throws; keep the error and rethrow it here.
template<class T>
QCoro::Task<void> capture(QCoro::Task<T> task, std::optional<T> *value, std::exception_ptr *error)
{
    try {
        value->emplace(co_await std::move(task));
    } catch (...) {
        *error = std::current_exception();
    }
}
inline QCoro::Task<void> captureVoid(QCoro::Task<void> task, std::exception_ptr *error)
{
    try {
        co_await std::move(task);
    } catch (...) {
        *error = std::current_exception();
    }
}
} // namespace detail

template<class T>
T await(QCoro::Task<T> task)
{
    std::optional<T> value;
    std::exception_ptr error;
    QCoro::waitFor(detail::capture(std::move(task), &value, &error));
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}
inline void await(QCoro::Task<void> task)
{
    std::exception_ptr error;
    QCoro::waitFor(detail::captureVoid(std::move(task), &error));
    if (error)
        std::rethrow_exception(error);
}
