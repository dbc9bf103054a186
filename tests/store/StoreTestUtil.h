#pragma once

// Helpers shared by the store tests.

#include "core/GoldenCard.h"
#include "core/store/StoreContainer.h"

#include <qcoro/qcorotask.h>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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

template<class T>
T await(QCoro::Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}
inline void await(QCoro::Task<void> task)
{
    QCoro::waitFor(std::move(task));
}
