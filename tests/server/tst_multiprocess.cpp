// Two cantorella-server processes on one PostgreSQL database behave as one server: what one
// process revokes or counts holds on the other.

#include "PgFixture.h"
#include "RawHttp.h"
#include "ServerClients.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

namespace {

struct Tokens
{
    QByteArray access;
    QByteArray refresh;
};

QByteArray randomSecret()
{
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

} // namespace

class MultiprocessTest : public QObject
{
    Q_OBJECT

private:
    // The same database and secrets for both, as on two machines behind one load balancer.
    std::unique_ptr<ServerClients> m_a;
    std::unique_ptr<ServerClients> m_b;
    QString m_email;
    const QString m_password = QStringLiteral("secret-1");

    ServerClients &server(char name) { return name == 'A' ? *m_a : *m_b; }

    ServerClients::Answer post(char on, const QString &path, const QJsonObject &body, const QByteArray &access = {})
    {
        QList<std::pair<QByteArray, QByteArray>> headers{{"apikey", qgetenv("CANTORELLA_ANON_KEY")}};
        if (!access.isEmpty())
            headers.append({"Authorization", "Bearer " + access});
        return server(on).send("POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact), headers);
    }

    // The tokens of a password sign-in on `on`, or empty ones.
    Tokens signIn(char on, const QString &password)
    {
        return tokensOf(post(on, "/auth/v1/token?grant_type=password", {{"email", m_email}, {"password", password}}));
    }

    Tokens refresh(char on, const QByteArray &refreshToken)
    {
        return tokensOf(post(on, "/auth/v1/token?grant_type=refresh_token",
                             {{"refresh_token", QString::fromLatin1(refreshToken)}}));
    }

    static Tokens tokensOf(const ServerClients::Answer &answer)
    {
        if (answer.status != 200)
            return {};
        const auto reply = QJsonDocument::fromJson(answer.body).object();
        return {reply["access_token"].toString().toLatin1(), reply["refresh_token"].toString().toLatin1()};
    }

    // The status of a request that needs a signed-in user.
    int backupStatus(char on, const QByteArray &access)
    {
        return server(on)
            .send("GET", "/api/backup?namespace=en", {},
                  {{"apikey", qgetenv("CANTORELLA_ANON_KEY")}, {"Authorization", "Bearer " + access}})
            .status;
    }

    // True when `access` is refused on both processes within one second.
    bool refusedEverywhereWithinOneSecond(const QByteArray &access)
    {
        QElapsedTimer timer;
        timer.start();
        while (backupStatus('A', access) != 401 || backupStatus('B', access) != 401) {
            if (timer.elapsed() > 1000)
                return false;
            QThread::msleep(20);
        }
        qInfo("refused on both after %lld ms", timer.elapsed());
        return true;
    }

private slots:
    void initTestCase()
    {
        qputenv("CANTORELLA_ANON_KEY", randomSecret());
        qputenv("CANTORELLA_JWT_KEY", randomSecret());
    }

    void init()
    {
        qputenv("CANTORELLA_TEST_DATABASE_URL", PgFixture::instance().createDatabase().toUtf8());
        const QStringList limits{"--signins-per-minute", "10"};
        m_a = std::make_unique<ServerClients>(limits);
        m_b = std::make_unique<ServerClients>(limits);
        for (auto *clients : {m_a.get(), m_b.get()}) {
            const QString problem = clients->server.start();
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
        m_email = ServerClients::uniqueEmail();
        QCOMPARE(post('B', "/auth/v1/signup", {{"email", m_email}, {"password", m_password}}).status, 200);
    }

    void cleanup()
    {
        m_a.reset();
        m_b.reset();
    }

    void logoutHoldsOnEveryProcess()
    {
        const Tokens first = signIn('A', m_password);
        QVERIFY(!first.access.isEmpty());
        const Tokens second = refresh('B', first.refresh);
        QVERIFY(!second.access.isEmpty());
        for (const auto &access : {first.access, second.access})
            QCOMPARE(backupStatus('B', access), 404); // signed in, nothing backed up yet
        QCOMPARE(post('A', "/auth/v1/logout", {}, second.access).status, 204);
        QVERIFY(refusedEverywhereWithinOneSecond(first.access));
        QVERIFY(refusedEverywhereWithinOneSecond(second.access));
        QVERIFY(refresh('B', second.refresh).refresh.isEmpty());
    }

    void reusedRefreshTokenRevokesTheSignIn_data()
    {
        QTest::addColumn<char>("rotatedOn");
        QTest::addColumn<char>("reusedOn");
        QTest::newRow("rotated on A, reused on B") << 'A' << 'B';
        QTest::newRow("rotated on B, reused on A") << 'B' << 'A';
    }

    void reusedRefreshTokenRevokesTheSignIn()
    {
        QFETCH(char, rotatedOn);
        QFETCH(char, reusedOn);
        const Tokens first = signIn('A', m_password);
        const Tokens rotated = refresh(rotatedOn, first.refresh);
        QVERIFY(!rotated.refresh.isEmpty());
        QVERIFY(refresh(reusedOn, first.refresh).refresh.isEmpty());
        // The whole sign-in is gone: its newest refresh token and its access tokens.
        QVERIFY(refresh('A', rotated.refresh).refresh.isEmpty());
        QVERIFY(refresh('B', rotated.refresh).refresh.isEmpty());
        QVERIFY(refusedEverywhereWithinOneSecond(rotated.access));
        QVERIFY(refusedEverywhereWithinOneSecond(first.access));
        QVERIFY(!signIn('B', m_password).access.isEmpty()); // a new sign-in is fine
    }

    // The password sign-in limit (10 a minute per address) counts attempts on both processes,
    // also when they arrive all at once (the right password among them): no more than 10
    // passwords are checked, every other answer is 429.
    void signInLimitHoldsAcrossProcesses_data()
    {
        QTest::addColumn<int>("together"); // attempts sent at once; 0: ten one after another
        QTest::newRow("one after another") << 0;
        QTest::newRow("30 at once") << 30;
    }

    void signInLimitHoldsAcrossProcesses()
    {
        QFETCH(int, together);
        // The counting window is the clock's minute: do not start right before it turns.
        const auto second = QDateTime::currentSecsSinceEpoch() % 60;
        if (second > 45)
            QThread::sleep(unsigned(61 - second));
        QList<RawHttp::Post> posts;
        for (int attempt = 0; attempt < together; ++attempt) {
            const QJsonObject body{{"email", m_email}, {"password", attempt == together / 2 ? m_password : "wrong-1"}};
            posts.append({quint16(server(attempt % 2 ? 'B' : 'A').server.baseUrl().port()), "/auth/v1/token?grant_type=password",
                          {{"apikey", qgetenv("CANTORELLA_ANON_KEY")}}, QJsonDocument(body).toJson(QJsonDocument::Compact)});
        }
        const QList<int> statuses = RawHttp::statusesOfPostsSentTogether(posts);
        QCOMPARE(statuses.count(429), qMax(0, together - 10));
        QCOMPARE(statuses.count(400) + statuses.count(200), qMin(together, 10));
        for (int attempt = together; attempt < 10; ++attempt) {
            const char on = attempt % 2 ? 'B' : 'A';
            QCOMPARE(post(on, "/auth/v1/token?grant_type=password", {{"email", m_email}, {"password", "wrong-1"}}).status,
                     400);
        }
        for (const char on : {'A', 'B'}) {
            QCOMPARE(post(on, "/auth/v1/token?grant_type=password", {{"email", m_email}, {"password", m_password}}).status,
                     429);
        }
    }
};

QTEST_GUILESS_MAIN(MultiprocessTest)
#include "tst_multiprocess.moc"
