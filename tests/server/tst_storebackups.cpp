// The storage contract for backups: every engine behind ServerStore stores, reads, counts and
// replaces documents alike, whole or not at all, also under concurrency and when an upload dies
// midway. Each test runs once per engine (the global data rows).

#include "KilledChild.h"
#include "StoreContract.h"

#include "platform/SqliteDatabase.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>

using namespace server;

class StoreBackupsTest : public QObject, private StoreFixture
{
    Q_OBJECT

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init() { openStore(); }
    void cleanup() { m_store.reset(); }

    void backups_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::newRow("empty") << qsizetype(0);
        QTest::newRow("small") << qsizetype(1000);
        QTest::newRow("several chunks, not a whole number") << qsizetype(9 * 1024 * 1024 + 17);
        QTest::newRow("50 MB") << qsizetype(50 * 1000 * 1000);
    }

    void backups()
    {
        QFETCH(qsizetype, size);
        const auto ann = newUser("ann@example.org");
        const auto bob = newUser("bob@example.org");
        QVERIFY(!m_store->backup(ann.id, "en"));
        m_store->putBackup(ann.id, "en", pattern(12 * 1024 * 1024, 1), 50); // longer than the next one
        const auto document = pattern(std::size_t(size), 2);
        QElapsedTimer timer;
        timer.start();
        m_store->putBackup(ann.id, "en", document, 60);
        const auto putMs = timer.restart();
        const auto stored = m_store->backup(ann.id, "en");
        const auto getMs = timer.elapsed();
        QVERIFY(stored);
        QVERIFY(stored->document == document);
        QCOMPARE(stored->storedAt, 60);
        QVERIFY(!m_store->backup(bob.id, "en"));
        QVERIFY(!m_store->backup(ann.id, "fr"));
        if (size > 10'000'000)
            qInfo("%lld bytes: put %lld ms, get %lld ms", qint64(size), putMs, getMs);
    }

    void failedBackupLeavesThePreviousOne()
    {
        const auto ann = newUser("ann@example.org");
        const auto previous = pattern(5 * 1024 * 1024, 3);
        m_store->putBackup(ann.id, "en", previous, 70);
        m_engine.breakBackupWrites(m_location);
        QVERIFY_THROWS_EXCEPTION(server::StoreError, m_store->putBackup(ann.id, "en", pattern(20 * 1024 * 1024, 4), 80));
        const auto stored = m_store->backup(ann.id, "en");
        QVERIFY(stored && stored->document == previous);
        QCOMPARE(stored->storedAt, 70);
        QCOMPARE(m_engine.storedDocuments(m_location), 1); // the failed one's bytes are gone at once
    }

    // A process killed in the middle of an upload leaves the backup it was replacing whole.
    void uploadKilledMidway()
    {
        QFETCH_GLOBAL(QString, engine);
        const auto ann = newUser("ann@example.org");
        m_store->putBackup(ann.id, "en", uploadedDocument(0), 0);
        for (int round = 0; round < 3; ++round) {
            const auto outcome = KilledChild::runUntilKilled({kUploaderFlag, engine, m_location, ann.id}, 100, 900);
            QVERIFY2(outcome.problem.isEmpty(), qPrintable(outcome.problem));
            const auto stored = m_store->backup(ann.id, "en");
            QVERIFY(stored && stored->document == uploadedDocument(stored->storedAt));
        }
        // What the killed uploads had written is gone after a prune; the backup stays.
        m_store->prune(1);
        QCOMPARE(m_engine.storedDocuments(m_location), 1);
        const auto stored = m_store->backup(ann.id, "en");
        QVERIFY(stored && stored->document == uploadedDocument(stored->storedAt));
    }

    // While uploads wait for their next bytes, they hold neither the writer nor more than a
    // share of the database connections: sign-ups and sign-ins go through.
    void documentsOnTheirWayHoldNoWriter()
    {
        constexpr int uploads = 20; // more than PostgreSQL's pool
        std::vector<UserRecord> users;
        for (int i = 0; i < uploads; ++i)
            users.push_back(newUser(QStringLiteral("up%1@example.org").arg(i)));
        std::mutex mutex;
        std::condition_variable released;
        bool release = false;
        std::atomic<int> waiting = 0;
        const auto releaseWriters = [&] {
            {
                const std::lock_guard lock(mutex);
                release = true;
            }
            released.notify_all();
        };
        // Destroyed in reverse: the writers are released (whatever failed) before anything waits for them.
        std::vector<std::future<bool>> writes;
        std::future<bool> others;
        const auto releaseOnExit = qScopeGuard(releaseWriters);
        for (const UserRecord &user : users) {
            writes.push_back(std::async(std::launch::async, [&, id = user.id] {
                return m_store->writeBackup(id, "en", 1000, [&](std::size_t, char *buffer, std::size_t capacity) {
                    ++waiting;
                    std::unique_lock lock(mutex);
                    released.wait(lock, [&] { return release; });
                    std::fill_n(buffer, capacity, 'd');
                    return capacity;
                }, 1, std::size_t(-1));
            }));
        }
        QTRY_VERIFY_WITH_TIMEOUT(waiting >= 4, 20000);
        others = std::async(std::launch::async, [&] {
            const auto user = m_store->createUser("late@example.org", "hash", true, 5);
            return user && !m_store->createSignIn(user->id, hashOf("late"), 6).id.isEmpty();
        });
        const bool through = others.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        releaseWriters();
        QVERIFY(through);
        QVERIFY(others.get());
        for (auto &write : writes)
            QVERIFY(write.get());
        QCOMPARE(m_engine.storedDocuments(m_location), uploads);
    }

    // A data folder from before backups were kept as files: its backups are read, counted and
    // replaced as any other.
    void backupsStoredInTheDatabaseStillServe()
    {
        QFETCH_GLOBAL(QString, engine);
        if (engine != u"sqlite")
            QSKIP("only SQLite kept documents in its rows");
        const QString path = m_engine.newLocation();
        {
            SqliteDatabase before = SqliteDatabase::open(path);
            before.exec(QStringLiteral(
                "CREATE TABLE users(id TEXT PRIMARY KEY, email TEXT NOT NULL UNIQUE, password_hash TEXT NOT NULL, "
                "confirmed INTEGER NOT NULL, created_at INTEGER NOT NULL);"
                "CREATE TABLE backups(user_id TEXT NOT NULL REFERENCES users(id) ON DELETE CASCADE, namespace TEXT NOT NULL, "
                "stored_at INTEGER NOT NULL, document BLOB NOT NULL, PRIMARY KEY(user_id, namespace));"
                "INSERT INTO users VALUES('u1', 'ann@example.org', 'hash', 1, 1);"));
            const std::string document = std::string(3 * 1024 * 1024, 'o') + "{\"old\":1}";
            before.statement("INSERT INTO backups VALUES('u1', 'en', 40, CAST(? AS BLOB))")
                .bindUtf8(1, QByteArrayView(document.data(), qsizetype(document.size())))
                .run();
        }
        const auto store = m_engine.open(path);
        const auto stored = store->backup("u1", "en");
        QVERIFY(stored && stored->document == std::string(3 * 1024 * 1024, 'o') + "{\"old\":1}");
        QCOMPARE(stored->storedAt, 40);
        QCOMPARE(store->backupBytes("u1", "fr"), qint64(stored->document.size()));
        QVERIFY(!store->putBackup("u1", "fr", pattern(1000, 1), 41, stored->document.size() + 999)); // counted
        QVERIFY(store->putBackup("u1", "en", pattern(1000, 1), 42));
        QCOMPARE(store->backup("u1", "en")->document, pattern(1000, 1));
        store->prune(50);
        QCOMPARE(m_engine.storedDocuments(path), 1);
    }

    void backupBytes()
    {
        const auto ann = newUser("ann@example.org");
        const auto bob = newUser("bob@example.org");
        QCOMPARE(m_store->backupBytes(ann.id, "en"), 0);
        m_store->putBackup(ann.id, "en", pattern(3000, 1), 1);
        m_store->putBackup(ann.id, "fr", pattern(2 * 1024 * 1024 + 5, 1), 1);
        m_store->putBackup(bob.id, "de", pattern(700, 1), 1);
        QCOMPARE(m_store->backupBytes(ann.id, "en"), 2 * 1024 * 1024 + 5);
        QCOMPARE(m_store->backupBytes(ann.id, "fr"), 3000);
        QCOMPARE(m_store->backupBytes(ann.id, "xx"), 2 * 1024 * 1024 + 3005);
    }

    // Readers during uploads see one whole document or the other, never a mix.
    void backupReadsDuringUploads()
    {
        const auto ann = newUser("ann@example.org");
        const std::array<std::string, 2> documents{pattern(9 * 1024 * 1024, 5), pattern(5 * 1024 * 1024, 6)};
        m_store->putBackup(ann.id, "en", documents[0], 0);
        std::atomic<bool> stop = false;
        std::atomic<int> reads = 0;
        std::atomic<int> torn = 0;
        std::thread reader([&] {
            while (!stop) {
                try {
                    const auto stored = m_store->backup(ann.id, "en");
                    if (!stored || stored->document != documents[std::size_t(stored->storedAt % 2)])
                        ++torn;
                } catch (const server::StoreError &) {
                    ++torn;
                }
                ++reads;
            }
        });
        raceCount(2, [&](int writer) {
            for (int round = 0; round < 6; ++round)
                m_store->putBackup(ann.id, "en", documents[std::size_t(writer)], writer + 2 * round);
            return true;
        });
        stop = true;
        reader.join();
        QVERIFY(reads > 0);
        QCOMPARE(torn.load(), 0);
    }

public:
    static constexpr const char *kUploaderFlag = "--upload-until-killed";

    static std::string uploadedDocument(qint64 round) { return pattern(12 * 1024 * 1024 + round % 2, unsigned(round % 2)); }

    // The child of uploadKilledMidway: uploads one document after another until it is killed.
    static int uploadUntilKilled(const QString &engine, const QString &location, const QString &userId)
    {
        const auto store = engineNamed(engine).open(location);
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
        for (qint64 round = 1;; ++round)
            store->putBackup(userId, "en", uploadedDocument(round), round);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const auto arguments = app.arguments();
    if (arguments.size() == 5 && arguments[1] == QLatin1String(StoreBackupsTest::kUploaderFlag))
        return StoreBackupsTest::uploadUntilKilled(arguments[2], arguments[3], arguments[4]);
    StoreBackupsTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_storebackups.moc"
