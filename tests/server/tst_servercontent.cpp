// The lyrics, cards and story clients against the real server seeded with the demo songs.
#include "ServerClients.h"

#include "backend/RemoteLLMProvider.h"
#include "backend/RemoteLyricsProvider.h"
#include "backend/RemoteSongStoryProvider.h"
#include "core/NowPlayingTrack.h"
#include "server/seed/DemoContent.h"

#include <QtTest>

namespace {

NowPlayingTrack track(const QString &title, const QString &artist)
{
    NowPlayingTrack t;
    t.title = title;
    t.artist = artist;
    return t;
}

} // namespace

class TestServerContent : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServerClients> clients;
    server::DemoContent demo;

    RemoteLyricsProvider lyrics() { return RemoteLyricsProvider(&clients->api, clients->auth.get(), clients->server.baseUrl()); }
    RemoteLLMProvider cards() { return RemoteLLMProvider(&clients->api, clients->server.baseUrl(), clients->auth.get()); }
    RemoteSongStoryProvider stories() { return RemoteSongStoryProvider(&clients->api, clients->server.baseUrl(), clients->auth.get()); }

private slots:
    void initTestCase()
    {
        QString problem;
        demo = server::DemoContent::load(ServerProcess::demoSongsFolder(), &problem);
        QCOMPARE(problem, QString());
        clients = std::make_unique<ServerClients>();
        QCOMPARE(clients->start(), QString());
        clients->signUpNew();
    }

    void demoSong_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("title");  // as a player might report it
        QTest::addColumn<QString>("artist");
        for (int i = 0; i < demo.songs().size(); ++i) {
            const server::DemoSong &song = demo.songs().at(i);
            QTest::addRow("%s", qPrintable(song.folder)) << i << song.title << song.artist;
            QTest::addRow("%s in capitals with spaces", qPrintable(song.folder)) << i << QStringLiteral("  ") + song.title.toUpper()
                                                                                  << song.artist.toUpper() + QStringLiteral("\n");
        }
    }

    void demoSong()
    {
        QFETCH(int, index);
        QFETCH(QString, title);
        QFETCH(QString, artist);
        const server::DemoSong &song = demo.songs().at(index);

        const RemoteLyricsFetchResult found = TaskRunner::run(lyrics().fetch(title, artist, song.duration, QString()));
        QVERIFY(found.result.isSynced());
        QCOMPARE(found.result.rawLRC(), song.lyrics);
        QCOMPARE(found.source, LyricsSource::manualImport);
        QCOMPARE(found.language, std::optional(song.language));

        if (song.cards) {
            const QList<GoldenCard> written = TaskRunner::run(cards().fetchCards(song.lyrics, track(title, artist), QStringLiteral("en")),
                                                              std::chrono::seconds(20));
            QCOMPARE(written.size(), song.cards->value(QLatin1String("cards")).toArray().size());
        } else {
            // Not a studied language, so nothing is seeded; the server has no model to write any.
            QCOMPARE(clientFailure<RemoteCardsError>(cards().fetchCards(song.lyrics, track(title, artist), std::nullopt)),
                     std::optional(RemoteCardsError::upstream(SSEEvent::ErrorCategory::upstreamError)));
        }

        const SongStory story = TaskRunner::run(stories().fetchStory(song.songKey(), title, artist));
        QCOMPARE(story.article, song.story.trimmed());
    }

    void unknownSong()
    {
        QCOMPARE(clientFailure<RemoteLyricsError>(lyrics().fetch(QStringLiteral("No Such Song"), QStringLiteral("Nobody"), 0, QString())),
                 std::optional(RemoteLyricsError::notFound()));
        // No language model configured: a song the cache lacks fails at once, as a failed
        // generation ("AI 生成卡片失败…"), not as a server that is down.
        QCOMPARE(clientFailure<RemoteCardsError>(cards().fetchCards(QStringLiteral("[00:01.00]la"), track("No Such Song", "Nobody"), std::nullopt)),
                 std::optional(RemoteCardsError::upstream(SSEEvent::ErrorCategory::upstreamError)));
        QCOMPARE(clientFailure<RemoteSongStoryError>(stories().fetchStory(QStringLiteral("nobody|no such song"), QStringLiteral("No Such Song"),
                                                                      QStringLiteral("Nobody"))),
                 std::optional(RemoteSongStoryError::server(502)));
    }

    void signedOutGets401()
    {
        const server::DemoSong &song = demo.songs().first();
        clients->newDevice();
        QCOMPARE(clientFailure<RemoteLyricsError>(lyrics().fetch(song.title, song.artist, 0, QString())),
                 std::optional(RemoteLyricsError::server(401)));
        QCOMPARE(clientFailure<RemoteCardsError>(cards().fetchCards(song.lyrics, track(song.title, song.artist), std::nullopt)),
                 std::optional(RemoteCardsError::server(401)));
        QCOMPARE(clientFailure<RemoteSongStoryError>(stories().fetchStory(song.songKey(), song.title, song.artist)),
                 std::optional(RemoteSongStoryError::server(401)));
        clients->signUpNew();
    }
};

QTEST_GUILESS_MAIN(TestServerContent)
#include "tst_servercontent.moc"
