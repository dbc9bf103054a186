// The storage contract: every engine behind ServerStore answers alike, also under concurrency:
// accounts, sign-ups, sign-ins, counters, cache, claims and pruning (the backups' part is
// tst_storebackups). Each test runs once per engine (the global data rows).

#include "StoreContract.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>

using namespace server;
using Outcome = RefreshRotation::Outcome;

class StoreContractTest : public QObject, private StoreFixture
{
    Q_OBJECT

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init() { openStore(); }
    void cleanup() { m_store.reset(); }

    void accounts()
    {
        QVERIFY(m_store->ping());
        const QByteArray hash("$argon2id$v=19$m=65536,t=2,p=1$c29tZXNhbHQ$RdescudvJCsgt3ub+b+dWRWJTmaaJObG");
        const auto created = m_store->createUser("ann@example.org", hash, false, 1234);
        QVERIFY(created);
        QVERIFY(!created->id.isEmpty());
        QVERIFY(!m_store->createUser("ann@example.org", "other", true, 2000)); // taken: nothing changes
        for (const auto &found : {m_store->userByEmail("ann@example.org"), m_store->userById(created->id)}) {
            QVERIFY(found);
            QCOMPARE(found->id, created->id);
            QCOMPARE(found->email, QStringLiteral("ann@example.org"));
            QCOMPARE(found->passwordHash, hash);
            QCOMPARE(found->confirmed, false);
            QCOMPARE(found->createdAt, 1234);
        }
        const auto bob = newUser("bob@example.org");
        QVERIFY(bob.id != created->id);
        QVERIFY(!m_store->userByEmail("nobody@example.org"));
        QVERIFY(!m_store->userById("no-such-id"));
    }

    // Steps on one sign-in started with token "t0": "rotate OLD NEW OUTCOME [AT LIMIT]" (at 200,
    // or at AT with at most LIMIT refreshes of the sign-in an hour), "logout", "signin live|revoked".
    void refreshRotation_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("a current token rotates") << QStringList{"rotate t0 t1 Rotated", "signin live"};
        QTest::newRow("a chain of rotations") << QStringList{"rotate t0 t1 Rotated", "rotate t1 t2 Rotated",
                                                             "rotate t2 t3 Rotated", "signin live"};
        QTest::newRow("reuse revokes the sign-in")
            << QStringList{"rotate t0 t1 Rotated", "rotate t0 x Reused", "signin revoked", "rotate t1 t2 Revoked"};
        QTest::newRow("reuse of an older token in a chain")
            << QStringList{"rotate t0 t1 Rotated", "rotate t1 t2 Rotated", "rotate t0 x Reused", "rotate t2 t3 Revoked"};
        QTest::newRow("logout revokes") << QStringList{"logout", "signin revoked", "rotate t0 t1 Revoked"};
        QTest::newRow("after rotation the old token stays used up after logout")
            << QStringList{"rotate t0 t1 Rotated", "logout", "rotate t0 x Revoked", "rotate t1 x Revoked"};
        QTest::newRow("an unknown token") << QStringList{"rotate nope t1 Unknown", "rotate t1 t2 Unknown",
                                                         "signin live"};
        // Over the limit nothing changes: t2 is still current, and rotates in the next hour.
        QTest::newRow("refreshes of a sign-in limited per hour")
            << QStringList{"rotate t0 t1 Rotated 3700 2", "rotate t1 t2 Rotated 3800 2", "rotate t2 t3 Limited 3900 2",
                           "rotate t2 t3 Rotated 7300 2", "signin live"};
    }

    void refreshRotation()
    {
        QFETCH(QStringList, steps);
        const auto user = newUser("ann@example.org");
        const auto signIn = m_store->createSignIn(user.id, hashOf("t0"), 100);
        QCOMPARE(signIn.userId, user.id);
        QVERIFY(!signIn.revoked);
        const QMap<QString, Outcome> outcomes{{"Rotated", Outcome::Rotated}, {"Reused", Outcome::Reused},
                                              {"Revoked", Outcome::Revoked}, {"Unknown", Outcome::Unknown},
                                              {"Limited", Outcome::Limited}};
        for (const auto &step : steps) {
            const auto words = step.split(' ');
            if (words[0] == "rotate") {
                const qint64 at = words.size() > 4 ? words[4].toLongLong() : 200;
                const RateHit perHour = words.size() > 4 ? RateHit{"refresh:", at - at % 3600, 3600, words[5].toLongLong()} : RateHit{};
                const auto rotation = m_store->rotateRefreshToken(hashOf(words[1]), hashOf(words[2]), at, perHour);
                QVERIFY2(rotation.outcome == outcomes.value(words[3]), qPrintable(step));
                const bool known = rotation.outcome != Outcome::Unknown;
                QCOMPARE(rotation.signInId, known ? signIn.id : QString());
                QCOMPARE(rotation.userId, known ? user.id : QString());
            } else if (words[0] == "logout") {
                m_store->revokeSignIn(signIn.id, 300);
            } else {
                QCOMPARE(m_store->signIn(signIn.id)->revoked, words[1] == "revoked");
            }
        }
        QVERIFY(!m_store->signIn("no-such-sign-in"));
    }

    void confirmationLinks_data()
    {
        QTest::addColumn<qint64>("expiresAt");
        QTest::addColumn<qint64>("takenAt");
        QTest::addColumn<bool>("valid");
        QTest::newRow("well before expiry") << qint64(5000) << qint64(1000) << true;
        QTest::newRow("the last second") << qint64(5000) << qint64(4999) << true;
        QTest::newRow("at expiry") << qint64(5000) << qint64(5000) << false;
        QTest::newRow("long expired") << qint64(5000) << qint64(90000) << false;
    }

    void confirmationLinks()
    {
        QFETCH(qint64, expiresAt);
        QFETCH(qint64, takenAt);
        QFETCH(bool, valid);
        const SignUpRequest request{"ann@example.org", "$argon2id$a", 500, hashOf("link"), expiresAt, std::nullopt};
        const auto user = m_store->signUp({}, request).user;
        const auto pending = m_store->pendingSignUps(hashOf("link"), takenAt, 5);
        QCOMPARE(pending ? std::optional(pending->user.id) : std::nullopt, valid ? std::optional(user.id) : std::nullopt);
        const auto confirmation = m_store->confirmSignUp({}, hashOf("link"), "$argon2id$a", takenAt);
        QCOMPARE(confirmation.outcome == Confirmation::Outcome::Confirmed, valid);
        QCOMPARE(confirmation.user.id, valid ? user.id : QString());
        QCOMPARE(m_store->userByEmail("ann@example.org")->confirmed, valid);
        QVERIFY(!m_store->pendingSignUps(hashOf("link"), takenAt, 5));
        // A confirmation uses the link up; a refused one leaves it as it was.
        QCOMPARE(bool(m_store->pendingSignUps(hashOf("link"), 0, 5)), !valid);
        QCOMPARE(m_store->confirmSignUp({}, hashOf("link"), "$argon2id$a", 0).outcome == Confirmation::Outcome::Confirmed,
                 !valid);
        QVERIFY(!m_store->pendingSignUps(hashOf("other"), 0, 5));
    }

    void countHit()
    {
        QCOMPARE(m_store->countHit("signin:ann", 60, 60), 1);
        QCOMPARE(m_store->countHit("signin:ann", 60, 60), 2);
        QCOMPARE(m_store->countHit("signin:bob", 60, 60), 1);
        QCOMPARE(m_store->countHit("signin:ann", 60, 60), 3);
        QCOMPARE(m_store->countHit("signin:ann", 120, 60), 1); // the next window starts over
        QCOMPARE(m_store->countHit("signin:ann", 120, 60), 2);
    }

    // Sign-ups and confirmations in one write each. Steps: "signup NAME confirmed|link LIMIT
    // OUTCOME" (NAME's password, with or without a link of its own, named NAME), "resend NAME
    // yes|no" (a new link named NAME), "pending LINK NAME,NAME…|none" (the pending sign-ups'
    // passwords the link finds, newest first), "confirm LINK NAME ok|none|limited [LIMIT]"
    // (the link with NAME's password, '-' for none; at most LIMIT attempts, default 99), then
    // the account's state "account none|waiting|confirmed-by NAME".
    void signUps_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("no confirmation: an account and its first sign-in")
            << QStringList{"signup a confirmed 9 Created", "account confirmed-by a", "signup b confirmed 9 Taken",
                           "account confirmed-by a"};
        QTest::newRow("a link with its own sign-up's password")
            << QStringList{"signup a link 9 Created", "account waiting", "pending a a", "confirm a a ok",
                           "account confirmed-by a", "pending a none"};
        QTest::newRow("the first sign-up's link with the second's password; the first is void after")
            << QStringList{"signup attacker link 9 Created", "signup owner link 9 Pending", "pending attacker owner,attacker",
                           "confirm attacker owner ok", "account confirmed-by owner", "confirm owner attacker none",
                           "confirm attacker attacker none", "account confirmed-by owner"};
        QTest::newRow("the newest sign-up's link with the first's password")
            << QStringList{"signup owner link 9 Created", "signup attacker link 9 Pending", "confirm attacker owner ok",
                           "account confirmed-by owner", "pending owner none", "confirm owner attacker none"};
        QTest::newRow("a resent link with the first sign-up's password")
            << QStringList{"signup owner link 9 Created", "signup attacker link 9 Pending", "resend again yes",
                           "pending again attacker,owner", "confirm again owner ok", "account confirmed-by owner",
                           "resend later no"};
        QTest::newRow("a link alone, or a password of no pending sign-up, activates nothing; the link stays")
            << QStringList{"signup a link 9 Created", "confirm a - none", "confirm a stranger none", "account waiting",
                           "pending a a", "confirm a a ok", "account confirmed-by a"};
        QTest::newRow("attempts are counted right or wrong; over the limit nothing is confirmed")
            << QStringList{"signup a link 9 Created", "confirm a - none 2", "confirm a stranger none 2",
                           "confirm a a limited 2", "account waiting", "confirm a a ok", "account confirmed-by a"};
        QTest::newRow("a confirmed address is taken") << QStringList{"signup a link 9 Created", "confirm a a ok",
                                                                     "signup b link 9 Taken", "account confirmed-by a"};
        QTest::newRow("over the limit nothing is created")
            << QStringList{"signup a link 1 Created", "signup b link 1 Limited", "pending b none", "confirm b b none",
                           "confirm a b none", "account waiting"};
        QTest::newRow("limited before the first") << QStringList{"signup a confirmed 0 Limited", "account none"};
    }

    void signUps()
    {
        QFETCH(QStringList, steps);
        const QString email = QStringLiteral("ann@example.org");
        const QMap<QString, SignUpOutcome::Outcome> outcomes{
            {"Created", SignUpOutcome::Outcome::Created}, {"Pending", SignUpOutcome::Outcome::Pending},
            {"Taken", SignUpOutcome::Outcome::Taken}, {"Limited", SignUpOutcome::Outcome::Limited}};
        const QMap<QString, Confirmation::Outcome> confirmations{{"ok", Confirmation::Outcome::Confirmed},
                                                                 {"none", Confirmation::Outcome::Refused},
                                                                 {"limited", Confirmation::Outcome::Limited}};
        const auto password = [](const QString &name) {
            return name == u"-" ? QByteArray() : QByteArray("$argon2id$" + name.toUtf8());
        };
        for (const auto &step : steps) {
            const auto words = step.split(' ');
            if (words[0] == "signup") {
                SignUpRequest request{email, password(words[1]), 500, std::nullopt, 0, std::nullopt};
                if (words[2] == "link") {
                    request.linkHash = hashOf("link-" + words[1]);
                    request.linkExpiresAt = 10000;
                } else {
                    request.refreshTokenHash = hashOf("refresh-" + words[1]);
                }
                const SignUpOutcome outcome =
                    m_store->signUp({RateHit{"signup:127.0.0.1", 480, 60, words[3].toLongLong()}}, request);
                QVERIFY2(outcome.outcome == outcomes.value(words[4]), qPrintable(step));
                const bool created = outcome.outcome == SignUpOutcome::Outcome::Created
                    || outcome.outcome == SignUpOutcome::Outcome::Pending;
                QCOMPARE(outcome.user.email, created ? email : QString());
                // A sign-in comes with a new confirmed account only, and its refresh token works.
                QCOMPARE(bool(outcome.signIn), created && words[2] == "confirmed");
                if (outcome.signIn)
                    QVERIFY(m_store->rotateRefreshToken(hashOf("refresh-" + words[1]), hashOf("next"), 600).outcome
                            == Outcome::Rotated);
            } else if (words[0] == "pending") {
                const auto pending = m_store->pendingSignUps(hashOf("link-" + words[1]), 900, 5);
                QStringList names;
                for (const QByteArray &hash : pending ? pending->passwordHashes : std::vector<QByteArray>())
                    names << QString::fromLatin1(hash.mid(QByteArray("$argon2id$").size()));
                QCOMPARE(pending ? names.join(',') : QStringLiteral("none"), words[2]);
                if (pending)
                    QCOMPARE(pending->user.email, email);
            } else if (words[0] == "confirm") {
                const qint64 limit = words.size() > 4 ? words[4].toLongLong() : 99;
                const auto confirmation = m_store->confirmSignUp({RateHit{"signin-email:ann", 840, 60, limit}},
                                                                 hashOf("link-" + words[1]), password(words[2]), 900);
                QVERIFY2(confirmation.outcome == confirmations.value(words[3]), qPrintable(step));
                const bool confirmed = confirmation.outcome == Confirmation::Outcome::Confirmed;
                QCOMPARE(confirmation.user.confirmed, confirmed);
                QCOMPARE(confirmation.user.passwordHash, confirmed ? password(words[2]) : QByteArray());
            } else if (words[0] == "resend") {
                const auto user = m_store->userByEmail(email);
                QVERIFY(user);
                QCOMPARE(m_store->addLinkForLatestSignUp(user->id, hashOf("link-" + words[1]), 10000), words[2] == "yes");
            } else {
                const auto user = m_store->userByEmail(email);
                QVERIFY2(bool(user) == (words[1] != "none"), qPrintable(step));
                if (!user)
                    continue;
                QCOMPARE(user->confirmed, words[1] == "confirmed-by");
                if (user->confirmed)
                    QCOMPARE(user->passwordHash, password(words[2]));
            }
        }
    }

    // An attempt is counted on every key in one write, which tells whether it fits.
    void countedAttempts()
    {
        const std::vector<RateHit> hits{{"signin-email:ann", 60, 60, 3}, {"signin-address:127.0.0.1", 60, 60, 3}};
        QVERIFY(m_store->countHits(hits));
        QVERIFY(m_store->countHits({hits[1]})); // another e-mail from the same address
        QVERIFY(m_store->countHits(hits));
        QCOMPARE(m_store->hits("signin-email:ann", 60), 2);
        QVERIFY(!m_store->countHits(hits)); // the address's fourth is over, though the e-mail's third is not
        QCOMPARE(m_store->hits("signin-email:ann", 120), 0); // the next window is empty
        QVERIFY(m_store->countHits({{"signin-email:ann", 120, 60, 3}}));
    }

    // What pruning deletes and what it must keep; several processes pruning at once is harmless.
    void prune()
    {
        const qint64 day = 24 * 3600;
        const auto ann = newUser("ann@example.org");
        // A chain rotated long ago and lately: t0, t1 used long ago, t2 used lately, t3 current.
        const auto chain = m_store->createSignIn(ann.id, hashOf("t0"), 0);
        m_store->rotateRefreshToken(hashOf("t0"), hashOf("t1"), 10);
        m_store->rotateRefreshToken(hashOf("t1"), hashOf("t2"), 5 * day);
        m_store->rotateRefreshToken(hashOf("t2"), hashOf("t3"), 5 * day + 10);
        const auto loggedOutLongAgo = m_store->createSignIn(ann.id, hashOf("old"), 0);
        m_store->revokeSignIn(loggedOutLongAgo.id, 100);
        const auto loggedOutLately = m_store->createSignIn(ann.id, hashOf("late"), 5 * day);
        m_store->revokeSignIn(loggedOutLately.id, 5 * day);
        const auto idle = m_store->createSignIn(ann.id, hashOf("idle"), 0);
        m_store->countHit("ended", 0, 60);
        m_store->countHit("live", 5 * day, 3600);
        const auto waiting = [&](const char *email, const char *link, qint64 expiresAt) {
            m_store->signUp({}, SignUpRequest{email, "$argon2id$w", 0, hashOf(link), expiresAt, std::nullopt});
        };
        waiting("expired@example.org", "expired", 10);
        waiting("live@example.org", "live", 6 * day);
        m_store->putCached("track", "gone", "x", 0, 100);
        m_store->putCached("track", "kept", "x", 0, std::nullopt);
        QCOMPARE(m_store->refreshTokenRows(), 7);

        const qint64 now = 5 * day + 60;
        const PruneAges ages{day, day, 4 * day};
        std::atomic<int> failures = 0;
        raceCount(4, [&](int) {
            try {
                m_store->prune(now, ages);
            } catch (const server::StoreError &error) {
                qWarning("%s", error.what());
                ++failures;
            }
            return true;
        });
        QCOMPARE(failures.load(), 0);
        QCOMPARE(m_store->refreshTokenRows(), 3); // t2, t3 and the lately revoked sign-in's
        QVERIFY(!m_store->signIn(loggedOutLongAgo.id));
        QVERIFY(m_store->signIn(loggedOutLately.id));
        QVERIFY(!m_store->signIn(idle.id));
        QCOMPARE(m_store->hits("ended", 0), 0);
        QCOMPARE(m_store->hits("live", 5 * day), 1);
        QVERIFY(!m_store->pendingSignUps(hashOf("expired"), 0, 5)); // gone, not merely expired
        QVERIFY(m_store->pendingSignUps(hashOf("live"), now, 5));
        QVERIFY(m_store->cached("track", "kept", now));
        // A token used lately still revokes its chain when it comes back; the current one rotates.
        QVERIFY(m_store->rotateRefreshToken(hashOf("t3"), hashOf("t4"), now).outcome == Outcome::Rotated);
        QVERIFY(m_store->rotateRefreshToken(hashOf("t2"), hashOf("x"), now).outcome == Outcome::Reused);
        QVERIFY(m_store->signIn(chain.id)->revoked);
        QVERIFY(m_store->rotateRefreshToken(hashOf("t0"), hashOf("y"), now).outcome == Outcome::Unknown);
    }

    // One sign-in pruned on day 5 (a used token kept a day, a revoked sign-in a day, an idle one
    // four days): "kept" (its current token rotates), "revoked" (kept, revoked) or "gone".
    void pruneOneSignIn_data()
    {
        QTest::addColumn<double>("startedDay");
        QTest::addColumn<double>("refreshedDay"); // its one rotation; negative: never refreshed
        QTest::addColumn<double>("revokedDay");   // negative: live
        QTest::addColumn<QString>("after");
        QTest::newRow("live, its unused token older than the used-token age") << 2.0 << -1.0 << -1.0 << "kept";
        QTest::newRow("live, refreshed: the current token older than the used-token age") << 0.5 << 3.0 << -1.0 << "kept";
        QTest::newRow("idle longer than the revoked age, shorter than the idle age") << 1.5 << -1.0 << -1.0 << "kept";
        QTest::newRow("refreshed lately after a long idle spell") << 0.0 << 4.5 << -1.0 << "kept";
        QTest::newRow("idle longer than the idle age") << 0.5 << -1.0 << -1.0 << "gone";
        QTest::newRow("revoked lately") << 3.0 << -1.0 << 4.5 << "revoked";
        QTest::newRow("revoked longer ago than the revoked age") << 3.0 << -1.0 << 3.5 << "gone";
    }

    void pruneOneSignIn()
    {
        QFETCH(double, startedDay);
        QFETCH(double, refreshedDay);
        QFETCH(double, revokedDay);
        QFETCH(QString, after);
        const qint64 day = 24 * 3600;
        const auto at = [day](double days) { return qint64(days * double(day)); };
        const auto signIn = m_store->createSignIn(newUser("ann@example.org").id, hashOf("t0"), at(startedDay));
        QString current = "t0";
        if (refreshedDay >= 0) {
            QVERIFY(m_store->rotateRefreshToken(hashOf("t0"), hashOf("t1"), at(refreshedDay)).outcome == Outcome::Rotated);
            current = "t1";
        }
        if (revokedDay >= 0)
            m_store->revokeSignIn(signIn.id, at(revokedDay));
        m_store->prune(at(5), PruneAges{day, day, 4 * day});
        const auto kept = m_store->signIn(signIn.id);
        QCOMPARE(kept ? (kept->revoked ? "revoked" : "kept") : "gone", after);
        QCOMPARE(m_store->refreshTokenRows(), after == "gone" ? 0 : 1); // a used token goes after a day
        if (after == "kept")
            QVERIFY(m_store->rotateRefreshToken(hashOf(current), hashOf("next"), at(5)).outcome == Outcome::Rotated);
    }

    void cache_data()
    {
        QTest::addColumn<std::optional<qint64>>("expiresAt");
        QTest::addColumn<qint64>("readAt");
        QTest::addColumn<bool>("present");
        QTest::newRow("no expiry") << std::optional<qint64>() << qint64(1e9) << true;
        QTest::newRow("before expiry") << std::optional<qint64>(500) << qint64(499) << true;
        QTest::newRow("at expiry") << std::optional<qint64>(500) << qint64(500) << false;
        QTest::newRow("after expiry") << std::optional<qint64>(500) << qint64(501) << false;
    }

    void cache()
    {
        QFETCH(std::optional<qint64>, expiresAt);
        QFETCH(qint64, readAt);
        QFETCH(bool, present);
        const std::string value("{\"lines\":[]}\0\xff", 14);
        m_store->putCached("track", "song-key", "old", 10, std::nullopt);
        m_store->putCached("track", "song-key", value, 100, expiresAt); // replaces
        m_store->putCached("cards", "song-key", "cards", 100, std::nullopt);
        const auto entry = m_store->cached("track", "song-key", readAt);
        QCOMPARE(bool(entry), present);
        if (entry) {
            QCOMPARE(entry->value, value);
            QCOMPARE(entry->storedAt, 100);
        }
        QCOMPARE(m_store->cached("cards", "song-key", readAt)->value, std::string("cards"));
        QVERIFY(!m_store->cached("story", "song-key", 0));
    }

    // "claim OWNER NOW EXPIRES yes|no", "release OWNER".
    void claims_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::newRow("one holder at a time") << QStringList{"claim a 0 100 yes", "claim b 10 110 no", "claim a 20 120 yes"};
        QTest::newRow("an expired claim is free")
            << QStringList{"claim a 0 100 yes", "claim b 99 199 no", "claim b 100 200 yes", "claim a 150 250 no"};
        QTest::newRow("release frees the key only for its owner")
            << QStringList{"claim a 0 100 yes", "release b", "claim b 1 101 no", "release a", "claim b 2 102 yes"};
        QTest::newRow("renewing moves the expiry") << QStringList{"claim a 0 100 yes", "claim a 90 300 yes",
                                                                  "claim b 200 400 no"};
    }

    void claims()
    {
        QFETCH(QStringList, steps);
        for (const auto &step : steps) {
            const auto words = step.split(' ');
            if (words[0] == "claim") {
                QVERIFY2(m_store->tryClaim("story:song", words[1], words[2].toLongLong(), words[3].toLongLong())
                             == (words[4] == "yes"),
                         qPrintable(step));
                QVERIFY(m_store->tryClaim("story:other-song", "z", words[2].toLongLong(), 1e9)); // keys are apart
            } else {
                m_store->releaseClaim("story:song", words[1]);
            }
        }
    }

    // Many threads at once on the same row: exactly one wins, on every engine.
    void exactlyOneWinner_data()
    {
        QTest::addColumn<QString>("race");
        QTest::newRow("one address registered at once") << QStringLiteral("register");
        QTest::newRow("one refresh token rotated at once") << QStringLiteral("rotate");
        QTest::newRow("one key claimed at once") << QStringLiteral("claim");
        QTest::newRow("one confirmation link taken at once") << QStringLiteral("take");
        QTest::newRow("one account's quota, uploads to different namespaces") << QStringLiteral("quota");
    }

    void exactlyOneWinner()
    {
        QFETCH(QString, race);
        constexpr int kThreads = 8;
        for (int round = 0; round < 5; ++round) {
            const auto user = newUser(QStringLiteral("user%1@example.org").arg(round));
            const auto token = hashOf(QString::number(round));
            const auto signIn = m_store->createSignIn(user.id, token, 10);
            m_store->signUp({}, SignUpRequest{user.email, "$argon2id$p", 1, token, 100, std::nullopt}); // pending
            const auto email = QStringLiteral("new%1@example.org").arg(round);
            std::array<std::atomic<int>, 4> outcomes{};
            const std::map<QString, std::function<bool(int)>> races{
                {"register", [&](int i) { return bool(m_store->createUser(email, QByteArray::number(i), false, 1)); }},
                {"rotate",
                 [&](int i) {
                     const auto outcome = m_store->rotateRefreshToken(token, hashOf(QStringLiteral("%1-%2").arg(round).arg(i)), 20).outcome;
                     ++outcomes[std::size_t(outcome)];
                     return outcome == Outcome::Rotated;
                 }},
                {"claim", [&](int i) { return m_store->tryClaim(email, QString::number(i), 1, 100); }},
                {"take",
                 [&](int) {
                     return m_store->confirmSignUp({}, token, "$argon2id$p", 50).outcome == Confirmation::Outcome::Confirmed;
                 }},
                {"quota",
                 [&](int i) { return m_store->putBackup(user.id, QStringLiteral("n%1").arg(i), pattern(40, i), 1, 64); }},
            };
            QCOMPARE(raceCount(kThreads, races.at(race)), 1);
            if (race == "register")
                QVERIFY(m_store->userByEmail(email));
            if (race == "rotate") {
                // The first after the winner finds the token used up and revokes the sign-in;
                // the rest find it revoked.
                QCOMPARE(outcomes[std::size_t(Outcome::Reused)], 1);
                QCOMPARE(outcomes[std::size_t(Outcome::Revoked)], kThreads - 2);
                QVERIFY(m_store->signIn(signIn.id)->revoked);
            }
        }
    }

    void countHitFromManyThreads()
    {
        constexpr int kThreads = 8;
        constexpr int kHits = 25;
        std::mutex mutex;
        QList<qint64> answers;
        raceCount(kThreads, [&](int) {
            for (int hit = 0; hit < kHits; ++hit) {
                const auto count = m_store->countHit("signup:127.0.0.1", 600, 60);
                std::lock_guard lock(mutex);
                answers.append(count);
            }
            return true;
        });
        // Every count from 1 to the total answered exactly once: no hit lost, none counted twice.
        std::sort(answers.begin(), answers.end());
        QList<qint64> expected;
        for (int i = 1; i <= kThreads * kHits; ++i)
            expected.append(i);
        QCOMPARE(answers, expected);
    }

    // Several processes starting on one new database at once: each creates or finds the schema.
    void openedManyTimesAtOnce()
    {
        const auto location = m_engine.newLocation();
        std::vector<std::unique_ptr<ServerStore>> stores(6);
        QCOMPARE(raceCount(int(stores.size()), [&](int i) {
                     try {
                         stores[std::size_t(i)] = m_engine.open(location);
                         return true;
                     } catch (const server::StoreError &error) {
                         qWarning("%s", error.what());
                         return false;
                     }
                 }),
                 int(stores.size()));
        const auto user = stores[0]->createUser("ann@example.org", "hash", true, 1);
        QVERIFY(user);
        stores.clear();
        QCOMPARE(m_engine.open(location)->userByEmail("ann@example.org")->id, user->id); // kept on reopening
    }
};

QTEST_GUILESS_MAIN(StoreContractTest)
#include "tst_storecontract.moc"
