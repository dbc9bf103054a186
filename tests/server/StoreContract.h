#pragma once

// What the store contract tests share: the engines they run on (each test once per engine, the
// global data rows), a fresh store per test, and the helpers for data and races.

#include "PgFixture.h"

#include "server/store/ServerStore.h"
#include "server/store/postgres/PostgresStore.h"
#include "server/store/sqlite/SqliteServerStore.h"

#include "platform/SqliteDatabase.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <pqxx/transaction>

#include <atomic>
#include <functional>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// What the suite needs from one engine: a fresh empty location, a store on a location, a way
// to make the next backup write fail halfway through, and how many documents' bytes it holds
// (whether a backup points at them or not).
struct Engine
{
    std::function<QString()> newLocation;
    std::function<std::unique_ptr<server::ServerStore>(const QString &)> open;
    std::function<void(const QString &)> breakBackupWrites;
    std::function<qint64(const QString &)> storedDocuments;
};

inline Engine engineNamed(const QString &name)
{
    if (name == QLatin1String("postgresql")) {
        return {[] { return PgFixture::instance().createDatabase(); }, server::openPostgresStore,
                [](const QString &url) {
                    // The third chunk of any document fails: the upload dies midway.
                    pqxx::connection connection(url.toStdString());
                    pqxx::work tx(connection);
                    tx.exec("CREATE FUNCTION fail_chunk() RETURNS trigger LANGUAGE plpgsql AS"
                            " $$ BEGIN IF NEW.seq >= 2 THEN RAISE EXCEPTION 'disk gone'; END IF; RETURN NEW; END $$");
                    tx.exec("CREATE TRIGGER fail_chunk BEFORE INSERT ON backup_chunks"
                            " FOR EACH ROW EXECUTE FUNCTION fail_chunk()");
                    tx.commit();
                },
                [](const QString &url) {
                    pqxx::connection connection(url.toStdString());
                    pqxx::work tx(connection);
                    return qint64(tx.exec1("SELECT count(DISTINCT (user_id, namespace)) FROM backup_chunks")[0].as<long long>());
                }};
    }
    if (name == QLatin1String("sqlite")) {
        return {[] {
                    static QTemporaryDir folder;
                    static int files = 0;
                    return folder.filePath(QStringLiteral("store-%1.sqlite").arg(++files));
                },
                [](const QString &path) -> std::unique_ptr<server::ServerStore> {
                    return std::make_unique<server::SqliteServerStore>(path);
                },
                [](const QString &path) {
                    SqliteDatabase::open(path).exec(QStringLiteral(
                        "CREATE TRIGGER fail_backup BEFORE UPDATE ON backups BEGIN SELECT RAISE(ABORT, 'disk gone'); END"));
                },
                [](const QString &path) {
                    SqliteDatabase database = SqliteDatabase::open(path);
                    SqliteStatement inRows = database.statement("SELECT count(*) FROM backups WHERE file IS NULL");
                    return QDir(path + "-backups").entryList(QDir::Files).size() + (inRows.step() ? inRows.int64(0) : 0);
                }};
    }
    qFatal("unknown engine");
}

inline QByteArray hashOf(const QString &token)
{
    return QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256);
}

inline std::string pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed * 7 + (i >> 12)) & 0xff);
    return bytes;
}

// Runs `work(i)` on `threads` threads released together; answers how many returned true.
inline int raceCount(int threads, const std::function<bool(int)> &work)
{
    std::latch start(threads);
    std::atomic<int> winners = 0;
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) {
        pool.emplace_back([&, i] {
            start.arrive_and_wait();
            if (work(i))
                ++winners;
        });
    }
    for (auto &thread : pool)
        thread.join();
    return winners;
}

// The store a test works on: a new one, on a fresh location of the engine the global data row
// names, for each test.
class StoreFixture
{
protected:
    Engine m_engine;
    QString m_location;
    std::unique_ptr<server::ServerStore> m_store;

    static void addEngineRows()
    {
        QTest::addColumn<QString>("engine");
        QTest::newRow("sqlite") << QStringLiteral("sqlite");
        QTest::newRow("postgresql") << QStringLiteral("postgresql");
    }

    void openStore()
    {
        QFETCH_GLOBAL(QString, engine);
        m_engine = engineNamed(engine);
        m_location = m_engine.newLocation();
        m_store = m_engine.open(m_location);
    }

    server::UserRecord newUser(const QString &email)
    {
        const auto user = m_store->createUser(email, "$argon2id$" + email.toUtf8(), false, 1000);
        if (!user)
            qFatal("cannot create a user");
        return *user;
    }
};
