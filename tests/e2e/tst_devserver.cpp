#include "TaskRunner.h"

#include "backend/AuthService.h"
#include "backend/RemoteBackupProvider.h"
#include "backend/RemoteLLMProvider.h"
#include "backend/RemoteLyricsProvider.h"
#include "backend/RemoteSongStoryProvider.h"
#include "core/StoryParser.h"
#include "platform/SecretStore.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

using namespace std::chrono_literals;

// The stand-in server as the README's run command starts it: its own process, on 127.0.0.1,
// driven through the program's real authentication service and backend clients.
class TestDevServer : public QObject
{
    Q_OBJECT

    QProcess server;
    QUrl base;
    std::shared_ptr<HttpSession> authHttp = std::make_shared<HttpSession>();
    std::unique_ptr<HttpSession> api;
    std::unique_ptr<AuthService> auth;

    static QString executable() { return QStringLiteral(CANTORELLA_BINARY_DIR "/tools/devserver/cantorella-devserver"); }

    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    // The address the server prints once it listens.
    static QUrl waitForAddress(QProcess &process)
    {
        QByteArray printed;
        while (!printed.contains('\n') && process.waitForReadyRead(10000))
            printed += process.readAllStandardOutput();
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("Listening on (http://127\\.0\\.0\\.1:\\d+)")).match(QString::fromUtf8(printed));
        return match.hasMatch() ? QUrl(match.captured(1)) : QUrl();
    }

    static Http::Request rawTrackRequest(const QUrl &base, const QString &accessToken)
    {
        Http::Request request;
        request.method = "POST";
        request.url = RemoteAPIConfig::url(base, RemoteAPIConfig::Path::track);
        request.setHeader("Content-Type", "application/json");
        request.setHeader("Authorization", ("Bearer " + accessToken).toUtf8());
        request.body = R"({"title":"Amazing Grace","artist":"Traditional","targetLanguage":"en"})";
        request.timeout = 5s;
        return request;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(executable()), "build the cantorella-devserver target first");
        // Access tokens that outlive a request by a second: the service refreshes before every
        // backend call (its leeway is 60 s), and a stale token is refused soon.
        const quint16 port = freePort();
        server.start(executable(), {"--port", QString::number(port), "--token-lifetime", "3"});
        QVERIFY(server.waitForStarted());
        base = waitForAddress(server);
        QCOMPARE(base.port(), int(port));

        api = std::make_unique<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
        KeychainStore keychain(QStringLiteral("com.cantorella.Cantorella.auth"), QStringLiteral("supabase-session"),
                               std::make_shared<InMemorySecretStore>());
        auth = std::make_unique<AuthService>(SupabaseConfig{base, QStringLiteral("local-demo-anon-key")}, keychain,
                                             authHttp, WallClock::system());
        TaskRunner::run(auth->waitForStoredSession());
    }

    void cleanupTestCase()
    {
        auth.reset();
        server.kill();
        server.waitForFinished();
    }

    void signUpThenSignIn()
    {
        QVERIFY(TaskRunner::run(auth->signUp("learner@example.com", "secret-1")));
        QVERIFY(auth->isSignedIn());
        TaskRunner::run(auth->signOut());
        QVERIFY(!auth->isSignedIn());
        QVERIFY_THROWS_EXCEPTION(AuthError, TaskRunner::run(auth->signIn("learner@example.com", "wrong-password")));
        TaskRunner::run(auth->signIn("learner@example.com", "secret-1"));
        QVERIFY(auth->isSignedIn());
    }

    void lyricsCardsAndStory()
    {
        QVERIFY(auth->isSignedIn());
        const QString tokenBefore = auth->session()->accessToken;

        RemoteLyricsProvider lyrics(api.get(), auth.get(), base);
        const RemoteLyricsFetchResult found = TaskRunner::run(lyrics.fetch("Amazing Grace", "Traditional", 82, QString()));
        QVERIFY(found.result.isSynced());
        QVERIFY(found.result.lines().size() > 5);
        QCOMPARE(found.language, QStringLiteral("en"));
        QCOMPARE(found.source, LyricsSource::manualImport);
        // The token was near its end, so the service refreshed it before the call.
        QVERIFY(auth->session()->accessToken != tokenBefore);

        NowPlayingTrack track;
        track.title = "Amazing Grace";
        track.artist = "Traditional";
        const QList<GoldenCard> cards =
            TaskRunner::run(RemoteLLMProvider(api.get(), base, auth.get()).fetchCards(found.result.rawLRC(), track, "en"));
        QVERIFY(!cards.isEmpty());
        QSet<QString> ids;
        for (const GoldenCard &card : cards)
            ids.insert(card.id());
        QCOMPARE(ids.size(), cards.size());

        RemoteSongStoryProvider stories(api.get(), base, auth.get());
        const SongStory story = TaskRunner::run(stories.fetchStory(track.songKey(), track.title, track.artist));
        QCOMPARE(story.title, QStringLiteral("Amazing Grace"));
        QCOMPARE(ParsedStory::parse(story.article).titleCN, QStringLiteral("奇异恩典"));
        QVERIFY(!story.paragraphsEN().isEmpty());
        QVERIFY(!story.paragraphsCN().isEmpty());
    }

    void unknownSong()
    {
        RemoteLyricsProvider lyrics(api.get(), auth.get(), base);
        try {
            TaskRunner::run(lyrics.fetch("Unknown Song", "Nobody", 0, QString()));
            QFAIL("expected no lyrics");
        } catch (const RemoteLyricsError &error) {
            QCOMPARE(error, RemoteLyricsError::notFound());
        }
        // A song the demo has no cards for fails as a card writer would.
        NowPlayingTrack track;
        track.title = "Au clair de la lune";
        track.artist = "Traditionnel";
        try {
            TaskRunner::run(RemoteLLMProvider(api.get(), base, auth.get()).fetchCards("[00:01.00]x", track, std::nullopt));
            QFAIL("expected no cards");
        } catch (const RemoteCardsError &error) {
            QCOMPARE(error, RemoteCardsError::upstream(SSEEvent::ErrorCategory::upstreamError));
        }
    }

    void backupRoundTrip()
    {
        RemoteBackupProvider backups(api.get(), base, auth.get());
        QCOMPARE(TaskRunner::run(backups.download()), std::nullopt);
        const QByteArray library = R"({"exportedAt":"2024-05-01T10:00:00Z","namespaces":{}})";
        QCOMPARE(TaskRunner::run(backups.upload(library)), qint64(library.size()));
        QCOMPARE(TaskRunner::run(backups.download()), std::optional<QByteArray>(library));
    }

    // An access token stops working once its lifetime has passed.
    void staleTokenIsRefused()
    {
        // A fresh token: the service refreshes one this close to its end.
        const QString token = TaskRunner::run(auth->authorizationHeader()).value_or(QString()).mid(7);
        QCOMPARE(token, auth->session()->accessToken);
        HttpSession raw;
        QCOMPARE(TaskRunner::run(raw.send(rawTrackRequest(base, token))).status, std::optional<int>(200));
        QTRY_COMPARE_WITH_TIMEOUT(TaskRunner::run(raw.send(rawTrackRequest(base, token))).status,
                                  std::optional<int>(401), 5000);
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
