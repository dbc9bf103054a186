// The store engine and the store file: connection set-up, transactions, errors, the
// file name rule, schema versions and an old file.

#include "StoreTestUtil.h"

#include "core/store/CardStore.h"

#include <QFile>
#include <QtTest>

#include <sqlite3.h>

class TestStoreEngine : public QObject
{
    Q_OBJECT

private slots:
    void everyConnectionIsConfigured()
    {
        TempStore store;
        SqliteDatabase db = store.container->connect();
        SqliteStatement mode = db.statement("PRAGMA journal_mode");
        QVERIFY(mode.step());
        QCOMPARE(mode.text(0), QStringLiteral("wal"));
        SqliteStatement fk = db.statement("PRAGMA foreign_keys");
        QVERIFY(fk.step());
        QCOMPARE(fk.int64(0), 1);
        QCOMPARE(db.userVersion(), StoreContainer::schemaVersion);
    }

    void constraintErrorsCarryExtendedCodes_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("extended");
        QTest::newRow("duplicate song key")
            << "INSERT INTO songs (key, title, artist, lyrics, last_played_at) VALUES ('k', '', '', '', 0)"
            << SQLITE_CONSTRAINT_UNIQUE;
        QTest::newRow("card of a missing song")
            << "INSERT INTO cards (song_key, en, cn, note, example, tag, song_id) VALUES ('k','a','','','','t',999)"
            << SQLITE_CONSTRAINT_FOREIGNKEY;
        QTest::newRow("missing title")
            << "INSERT INTO songs (key, artist, lyrics, last_played_at) VALUES ('other', '', '', 0)"
            << SQLITE_CONSTRAINT_NOTNULL;
    }
    void constraintErrorsCarryExtendedCodes()
    {
        QFETCH(QString, sql);
        QFETCH(int, extended);
        TempStore store;
        SqliteDatabase db = store.raw();
        db.exec(QStringLiteral("INSERT INTO songs (key, title, artist, lyrics, last_played_at) VALUES ('k','','','',0)"));
        try {
            db.exec(sql);
            QFAIL("no error");
        } catch (const StoreError &e) {
            QCOMPARE(e.kind(), StoreError::Kind::Sqlite);
            QCOMPARE(e.extendedCode(), extended);
            QVERIFY(e.isConstraintViolation());
        }
    }

    void savepointRollsBackOnlyItsOwnWork()
    {
        TempStore store;
        SqliteDatabase db = store.raw();
        const auto insert = [&](const char *key) {
            SqliteStatement st =
                db.statement("INSERT INTO songs (key, title, artist, lyrics, last_played_at) VALUES (?1,'','','',0)");
            st.bind(1, QString::fromLatin1(key)).run();
        };
        {
            SqliteTransaction outer(db);
            insert("a");
            {
                SqliteTransaction inner(db);
                QVERIFY(inner.isNested());
                insert("b");
                // leaves scope without commit: rolled back to the savepoint
            }
            {
                SqliteTransaction inner(db);
                insert("c");
                inner.commit();
            }
            outer.commit();
        }
        {
            SqliteTransaction abandoned(db);
            insert("d");
        }
        QCOMPARE(db.transactionDepth(), 0);
        SqliteStatement keys = db.statement("SELECT group_concat(key, '') FROM (SELECT key FROM songs ORDER BY key)");
        QVERIFY(keys.step());
        QCOMPARE(keys.text(0), QStringLiteral("ac"));
    }

    // The engine can end a transaction on its own (an I/O error, out of memory; here a ROLLBACK
    // run inside it). Committing it then must fail, not report work that is gone as written,
    // and the connection must be usable for the next transaction.
    void transactionEndedByTheEngineDoesNotCommit_data()
    {
        QTest::addColumn<bool>("nested");
        QTest::newRow("outermost") << false;
        QTest::newRow("inside a savepoint") << true;
    }
    void transactionEndedByTheEngineDoesNotCommit()
    {
        QFETCH(bool, nested);
        TempStore store;
        SqliteDatabase db = store.raw();
        {
            SqliteTransaction outer(db);
            db.exec(QStringLiteral("INSERT INTO songs (key, title, artist, lyrics, last_played_at) VALUES ('a','','','',0)"));
            std::optional<SqliteTransaction> inner;
            if (nested)
                inner.emplace(db);
            db.exec(QStringLiteral("ROLLBACK"));
            if (nested) {
                QVERIFY_THROWS_EXCEPTION(StoreError, inner->commit());
                QCOMPARE(db.transactionDepth(), 1);
            }
            try {
                outer.commit();
                QFAIL("committed");
            } catch (const StoreError &e) {
                QCOMPARE(e.kind(), StoreError::Kind::TransactionLost);
            }
            QCOMPARE(db.transactionDepth(), 0);
        }
        QCOMPARE(db.transactionDepth(), 0);
        QCOMPARE(store.count(QStringLiteral("SELECT count(*) FROM songs")), 0);
        SqliteTransaction next(db);
        QVERIFY(!next.isNested());
        next.commit();
    }

    // A statement left mid-step would keep a read transaction open, and the connection
    // would go on seeing the file as it was; handles reset their statement when they go.
    void abandonedStatementDoesNotPinAnOldSnapshot()
    {
        TempStore store;
        SqliteDatabase reader = store.raw();
        SqliteDatabase writer = store.raw();
        writer.exec(QStringLiteral(
            "INSERT INTO songs (key, title, artist, lyrics, last_played_at) VALUES ('a','','','',0), ('b','','','',0)"));
        {
            SqliteStatement st = reader.statement("SELECT key FROM songs");
            QVERIFY(st.step()); // one row read, the second never
        }
        QVERIFY(!reader.inTransaction());
        writer.exec(QStringLiteral("INSERT INTO songs (key, title, artist, lyrics, last_played_at) VALUES ('c','','','',0)"));
        SqliteStatement count = reader.statement("SELECT count(*) FROM songs");
        QVERIFY(count.step());
        QCOMPARE(count.int64(0), 3);
    }

    void userIdBecomesAFileNameOnlyWhenSafe_data()
    {
        QTest::addColumn<QString>("userId");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("uuid") << "3f2a9c1e-7b4d-4e2a-9f00-1c2d3e4f5a6b" << true;
        QTest::newRow("letters digits dash underscore") << "User_01-x" << true;
        QTest::newRow("128 characters") << QString(128, 'a') << true;
        QTest::newRow("129 characters") << QString(129, 'a') << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("parent folder") << "../escape" << false;
        QTest::newRow("slash") << "a/b" << false;
        QTest::newRow("dot") << "a.b" << false;
        QTest::newRow("blank") << "a b" << false;
        QTest::newRow("non-ascii letter") << QStringLiteral("ü") << false;
        QTest::newRow("nul") << QString(QChar(0)) << false;
    }
    void userIdBecomesAFileNameOnlyWhenSafe()
    {
        QFETCH(QString, userId);
        QFETCH(bool, accepted);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("data/com.cantorella.Cantorella"));
        if (accepted) {
            auto container = StoreContainer::openForUser(folder, userId);
            QCOMPARE(container->path(), folder + "/default-" + userId + "-en.store");
            QVERIFY(QFile::exists(container->path()));
        } else {
            try {
                StoreContainer::openForUser(folder, userId);
                QFAIL("accepted");
            } catch (const StoreError &e) {
                QCOMPARE(e.kind(), StoreError::Kind::InvalidUserId);
            }
            QVERIFY(!QDir(folder).exists());
        }
    }

    void fileOfANewerProgramIsRefused()
    {
        TempStore store;
        store.raw().setUserVersion(StoreContainer::schemaVersion + 1);
        try {
            StoreContainer::open(store.path);
            QFAIL("opened");
        } catch (const StoreError &e) {
            QCOMPARE(e.kind(), StoreError::Kind::UnsupportedSchema);
        }
    }

    // A file written by schema version 1, checked in as it was written.
    void versionOneFileOpens()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("v1.store"));
        QVERIFY(QFile::copy(QStringLiteral(CANTORELLA_TEST_DATA_DIR "/store-v1.store"), path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        auto container = StoreContainer::open(path);
        CardStore store(container);

        const QList<SongRecord *> songs = store.allSongs();
        QCOMPARE(songs.size(), 2);
        QCOMPARE(songs[0]->key(), QStringLiteral("traditional|greensleeves"));
        SongRecord *susanna = songs[1];
        QCOMPARE(susanna->title(), QStringLiteral("Oh! Susanna"));
        QCOMPARE(susanna->language(), std::optional<QString>(QStringLiteral("en")));
        QCOMPARE(susanna->lyricsOffset(), std::optional<double>(0.15000000000000002));
        QCOMPARE(susanna->lastPlayedAt().toMSecsSinceEpoch(), 1700000000123);
        QCOMPARE(susanna->favoritedAt().toMSecsSinceEpoch(), 1700000100456);
        QCOMPARE(susanna->playCount(), 3);
        QVERIFY(!songs[0]->language());
        QVERIFY(!songs[0]->favoritedAt().isValid());

        const QList<LearnedCard *> cards = susanna->cards();
        QCOMPARE(cards.size(), 2);
        QCOMPARE(cards[0]->cardId(), QStringLiteral("don't you|phrase"));
        const PronunciationHint hint{PronunciationKind::contraction, QStringLiteral("dont-you"), QStringLiteral("doʊnt ju")};
        QCOMPARE(cards[0]->pronunciationHint(), std::optional<PronunciationHint>(hint));
        QCOMPARE(cards[0]->listeningDifficulty(), std::optional<ListeningDifficulty>(ListeningDifficulty::medium));
        QCOMPARE(cards[0]->masteredAt().toMSecsSinceEpoch(), 1700000050789);
        QCOMPARE(cards[1]->song(), susanna);
        QVERIFY(!cards[1]->pronunciationHint());
        QVERIFY(!cards[1]->listeningDifficulty());
        QVERIFY(!cards[1]->lineTimestamp());

        // Taken up the ladder, and still writable.
        QCOMPARE(container->connect().userVersion(), StoreContainer::schemaVersion);
        QCOMPARE(store.masteredCards(), QList<LearnedCard *>{cards[0]});
        store.toggleFavorite(songs[0]);
        QCOMPARE(store.favoriteSongs(), (QList<SongRecord *>{songs[0], susanna}));
    }
};

QTEST_GUILESS_MAIN(TestStoreEngine)
#include "tst_storeengine.moc"
