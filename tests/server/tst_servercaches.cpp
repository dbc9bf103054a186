// The server's per-process memories: each serves only what is still true (a changed cache entry
// or LRC file, a database that stopped answering, a token past its expiry) and stays within its
// bounds.
#include "server/auth/AccessTokens.h"
#include "server/auth/SignInCheck.h"
#include "server/content/BoundedCache.h"
#include "server/http/HealthCheck.h"
#include "server/lyrics/LrcFolderIndex.h"
#include "server/lyrics/TrackService.h"
#include "server/store/StoreFactory.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>

using namespace server;

namespace {

const QByteArray english = "[ti:Night Song]\n[ar:The Owls]\n[00:01.00]The stars are out tonight and so are we\n"
                           "[00:04.00]We walk along the river under the moon\n";
// As long as `english`, so that only the times and the inode can tell the two apart.
const QByteArray french = "[ti:Night Song]\n[ar:The Owls]\n[00:01.00]Les etoiles brillent ce soir et nous aussi\n"
                          "[00:04.00]Nous marchons le long du fleuve sous la lune\n";

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Sets a file's modification time, to the nanosecond.
void setModified(const QString &path, const timespec &when)
{
    const timespec times[2] = {when, when};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

timespec secondsAgo(int seconds)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec -= seconds;
    return now;
}

enum class Change {
    RewrittenLater,     // same size, a later modification time
    ReplacedByRename,   // same size and modification time, another inode
    RewrittenTimeKept,  // same size, inode and modification time: only the change time moves
};

} // namespace

Q_DECLARE_METATYPE(Change)

class TestServerCaches : public QObject
{
    Q_OBJECT

private slots:
    void boundsHold_data()
    {
        QTest::addColumn<int>("inserts");
        QTest::addColumn<int>("entryBytes");
        QTest::addColumn<int>("maxEntries");
        QTest::addColumn<int>("maxBytes");
        QTest::newRow("many small entries") << 1000 << 10 << 64 << 1000000;
        QTest::newRow("few large entries") << 1000 << 1000 << 10000 << 50000;
        QTest::newRow("entries over half the byte bound are not kept") << 10 << 600 << 100 << 1000;
    }

    void boundsHold()
    {
        QFETCH(int, inserts);
        QFETCH(int, entryBytes);
        QFETCH(int, maxEntries);
        QFETCH(int, maxBytes);
        BoundedCache<int, int> cache{std::size_t(maxEntries), std::size_t(maxBytes)};
        for (int i = 0; i < inserts; ++i) {
            cache.insert(i, i, std::size_t(entryBytes));
            cache.find(i / 2); // moves older entries back into the current generation
            QVERIFY(cache.size() <= std::size_t(maxEntries));
            QVERIFY(cache.bytes() <= std::size_t(maxBytes));
        }
        if (2 * entryBytes > maxBytes) {
            QCOMPARE(cache.size(), std::size_t(0));
            return;
        }
        QCOMPARE(cache.find(inserts - 1), std::optional<int>(inserts - 1));

        // An entry is still found after a full generation came after it (it is in the previous
        // one then), and found again after another (the lookup moved it back into the current).
        BoundedCache<int, int> fresh{std::size_t(maxEntries), std::size_t(maxBytes)};
        const int generation = std::min(std::max(1, maxEntries / 2), maxBytes / 2 / entryBytes);
        fresh.insert(-1, -1, std::size_t(entryBytes));
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < generation; ++i)
                fresh.insert(round * generation + i, i, std::size_t(entryBytes));
            QCOMPARE(fresh.find(-1), std::optional<int>(-1));
        }
    }

    // Verified tokens' claims are kept, but a token stops working at its expiry second, kept
    // or not.
    void keptTokenClaimsExpire_data()
    {
        QTest::addColumn<int>("verifiedAt"); // seconds after the issue, 0: not verified before
        QTest::addColumn<int>("askedAt");
        QTest::addColumn<bool>("valid");
        QTest::newRow("a second before the expiry") << 0 << 59 << true;
        QTest::newRow("at the expiry second") << 0 << 60 << false;
        QTest::newRow("kept, a second before the expiry") << 1 << 59 << true;
        QTest::newRow("kept, at the expiry second") << 1 << 60 << false;
        QTest::newRow("kept, long after") << 59 << 7200 << false;
    }

    void keptTokenClaimsExpire()
    {
        QFETCH(int, verifiedAt);
        QFETCH(int, askedAt);
        QFETCH(bool, valid);
        const qint64 issuedAt = 1800000000;
        const AccessTokens tokens(std::string(40, 'k'), 60);
        const AccessTokens::Issued issued = tokens.issue(QStringLiteral("user-1"), QStringLiteral("sign-in-1"), issuedAt);
        QCOMPARE(issued.expiresAt, issuedAt + 60);
        if (verifiedAt > 0)
            QVERIFY(tokens.verify(issued.token, issuedAt + verifiedAt));
        const std::optional<AccessClaims> claims = tokens.verify(issued.token, issuedAt + askedAt);
        QCOMPARE(claims.has_value(), valid);
        // Past its expiry the token still names its sign-in (a logout with an expired token).
        const std::optional<AccessClaims> expired = tokens.verify(issued.token, issuedAt + askedAt, true);
        QVERIFY(expired);
        QCOMPARE(expired->signInId, QStringLiteral("sign-in-1"));
    }

    void healthCheckReusesOnlySuccess()
    {
        using namespace std::chrono_literals;
        int pings = 0;
        bool answers = true;
        HealthCheck check([&] { ++pings; return answers; }, 1s);
        const HealthCheck::Clock::time_point start{1000s};
        QVERIFY(!check.knownHealthy(start)); // nothing checked yet: an answer needs a ping
        QVERIFY(check.healthy(start));
        QVERIFY(check.healthy(start + 500ms));
        QVERIFY(check.knownHealthy(start + 999ms));
        QCOMPARE(pings, 1);
        answers = false;
        QVERIFY(!check.knownHealthy(start + 1001ms));
        QVERIFY(!check.healthy(start + 1001ms)); // a success a second old stands no more
        QVERIFY(!check.healthy(start + 1002ms)); // a failure stands for nothing
        QCOMPARE(pings, 3);
        answers = true;
        QVERIFY(check.healthy(start + 1003ms));
        QCOMPARE(pings, 4);
    }

    // A sign-in revoked by another process stops working once the kept answer is half a second
    // old; revoked here, at once; a revoked one is never kept; a kept answer is for its user only.
    void signInCheckKeepsOnlyRecentActive_data()
    {
        QTest::addColumn<QString>("revocation"); // "elsewhere", "here", "before"
        QTest::addColumn<int>("askAfterMs");
        QTest::addColumn<bool>("active");
        QTest::newRow("elsewhere, kept answer still young") << "elsewhere" << 499 << true;
        QTest::newRow("elsewhere, kept answer too old") << "elsewhere" << 500 << false;
        QTest::newRow("here") << "here" << 1 << false;
        QTest::newRow("before the first check") << "before" << 1 << false;
    }

    void signInCheckKeepsOnlyRecentActive()
    {
        using namespace std::chrono_literals;
        QFETCH(QString, revocation);
        QFETCH(int, askAfterMs);
        QFETCH(bool, active);
        QTemporaryDir data;
        const std::unique_ptr<ServerStore> store = openServerStore(QString(), data.path());
        const std::optional<UserRecord> user = store->createUser("owl@example.com", "hash", true, 1);
        QVERIFY(user);
        const SignInRecord signIn = store->createSignIn(user->id, "refresh", 1);
        SignInCheck check(*store, 500ms);
        const SignInCheck::Clock::time_point start{1000s};

        if (revocation == "before")
            store->revokeSignIn(signIn.id, 2);
        QCOMPARE(check.active(signIn.id, user->id, start), revocation != "before");
        QVERIFY(!check.active(signIn.id, "someone-else", start)); // the kept answer names its user
        if (revocation != "before")
            store->revokeSignIn(signIn.id, 2);
        if (revocation == "here")
            check.forget(signIn.id);
        // The answer without the database is the kept one, never a guess.
        QCOMPARE(check.knownActive(signIn.id, user->id, start + std::chrono::milliseconds(askAfterMs)), active);
        QCOMPARE(check.active(signIn.id, user->id, start + std::chrono::milliseconds(askAfterMs)), active);
    }

    void changedAnswerSourceIsServedFresh_data()
    {
        QTest::addColumn<Change>("change");
        QTest::newRow("rewritten later, same size") << Change::RewrittenLater;
        QTest::newRow("replaced by a rename, same size and time") << Change::ReplacedByRename;
        QTest::newRow("rewritten in place, modification time put back") << Change::RewrittenTimeKept;
    }

    // The kept encoded answers follow their sources: a changed file at once (its language
    // detected again), a replaced cache entry (a re-import) within a second.
    void changedAnswerSourceIsServedFresh()
    {
        QFETCH(Change, change);
        QTemporaryDir data;
        QTemporaryDir folder;
        const std::unique_ptr<ServerStore> store = openServerStore(QString(), data.path());
        const QString path = folder.filePath("night.lrc");
        write(path, english);
        const timespec settled = secondsAgo(60); // old enough for its text to be kept
        setModified(path, settled);
        LrcFolderIndex index(folder.path(), [](const QString &) {});
        index.rescan();
        qint64 now = 1800000000;
        TrackService service(*store, &index, nullptr, [&now] { return now; }, TrackService::Options(),
                             [](const QString &) {});
        const auto ask = [&service](const QString &title) {
            const TrackService::Answer answer = service.answer(JsonReader(QJsonObject{{"title", title}, {"artist", "The Owls"}}));
            return QJsonDocument::fromJson(answer.body).object();
        };
        // What the I/O thread may answer without the database or the folder: the cache's answer
        // as answer() gave it this second, nothing else; for the same bytes again (known without
        // reading them) the same.
        const auto fromMemory = [&service](const QString &title) -> std::optional<QJsonObject> {
            const QJsonObject request{{"title", title}, {"artist", "The Owls"}};
            const std::string bytes = QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString();
            const std::optional<TrackService::Answer> answer = service.answerFromMemory(JsonReader(request), bytes);
            const std::optional<TrackService::Answer> again = service.answerFromMemory(bytes);
            if (answer.has_value() != again.has_value() || (answer && answer->body != again->body))
                return QJsonObject{{"bytes answered otherwise", true}};
            if (!answer)
                return std::nullopt;
            return QJsonDocument::fromJson(answer->body).object();
        };
        QCOMPARE(ask("Night Song").value("language").toString(), "en");
        QCOMPARE(fromMemory("Night Song"), std::nullopt); // the file is looked at every time

        const QString replacement = change == Change::ReplacedByRename ? path + ".new" : path;
        write(replacement, french);
        setModified(replacement, change == Change::RewrittenLater ? secondsAgo(30) : settled);
        if (replacement != path)
            QCOMPARE(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(path).constData()), 0);
        const QJsonObject fromFile = ask("Night Song");
        QCOMPARE(fromFile.value("lyrics").toString().toUtf8(), french);
        QCOMPARE(fromFile.value("language").toString(), "fr");
        const auto entry = [](const char *key, const char *lyrics) {
            return QJsonDocument(QJsonObject{{"lyrics", lyrics}, {"source", "lrclib"}, {"songKey", key}})
                .toJson(QJsonDocument::Compact).toStdString();
        };
        // A cache entry for the song wins over the folder, a second later at the latest.
        store->putCached("track", "the owls|night song", entry("the owls|night song", "[00:01.00]Online"), 1, std::nullopt);
        ++now;
        QCOMPARE(ask("Night Song").value("lyrics").toString(), "[00:01.00]Online");

        const char *const dayKey = "the owls|day song";
        store->putCached("track", dayKey, entry(dayKey, "[00:01.00]First import"), 1, std::nullopt);
        QCOMPARE(ask("Day Song").value("lyrics").toString(), "[00:01.00]First import");
        store->putCached("track", dayKey, entry(dayKey, "[00:01.00]Second import"), 2, std::nullopt);
        QCOMPARE(ask("Day Song").value("lyrics").toString(), "[00:01.00]First import"); // confirmed this second
        QCOMPARE(fromMemory("Day Song")->value("lyrics").toString(), "[00:01.00]First import");
        QCOMPARE(fromMemory("Night Song")->value("lyrics").toString(), "[00:01.00]Online");
        QCOMPARE(fromMemory(" "), std::nullopt); // refused by answer()
        ++now;
        QCOMPARE(fromMemory("Day Song"), std::nullopt); // not confirmed this second
        QCOMPARE(ask("Day Song").value("lyrics").toString(), "[00:01.00]Second import");
        QCOMPARE(fromMemory("Day Song")->value("lyrics").toString(), "[00:01.00]Second import");
    }
};

QTEST_GUILESS_MAIN(TestServerCaches)
#include "tst_servercaches.moc"
