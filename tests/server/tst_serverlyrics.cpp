// The desktop program's lyrics client against the real server with an LRC folder and a fake of
// the online lyrics database.
#include "LoopbackHttp.h"
#include "ServerClients.h"

#include "backend/RemoteLyricsProvider.h"

#include <QtTest>

#include <atomic>

namespace {

const QString onlineLrc = QStringLiteral("[00:01.00]Over the hills the morning comes\n[00:05.00]And we are walking home\n");
const QString folderLrc = QStringLiteral("[ti:Chanson du soir]\n[ar:Les Hiboux]\n[00:01.00]Le soleil se couche sur la ville\n"
                                         "[00:04.00]Et nous rentrons doucement à la maison\n"
                                         "[00:07.00]Les enfants chantent encore dans la rue\n");

std::optional<RemoteLyricsError> failureOf(QCoro::Task<RemoteLyricsFetchResult> task)
{
    try {
        TaskRunner::run(std::move(task), std::chrono::seconds(20));
    } catch (const RemoteLyricsError &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace

class TestServerLyrics : public QObject
{
    Q_OBJECT

    LoopbackHttp m_online;
    std::atomic<int> m_onlineCalls{0};
    QTemporaryDir m_folder;
    std::unique_ptr<ServerClients> m_clients;

    RemoteLyricsProvider lyrics()
    {
        return RemoteLyricsProvider(&m_clients->api, m_clients->auth.get(), m_clients->server.baseUrl());
    }

private slots:
    void initTestCase()
    {
        // The fake database knows one song; it is down for another; for the rest it has nothing.
        m_online.server.Get("/api/get", [this](const httplib::Request &req, httplib::Response &res) {
            ++m_onlineCalls;
            const std::string track = req.get_param_value("track_name");
            if (track == "Morning Walk") {
                res.set_content(QJsonDocument(QJsonObject{{"trackName", "Morning Walk"}, {"artistName", "The Owls"},
                                                          {"duration", 120}, {"instrumental", false},
                                                          {"syncedLyrics", onlineLrc}})
                                    .toJson()
                                    .toStdString(),
                                "application/json");
            } else if (track == "Down") {
                res.status = 503;
            } else {
                res.status = 404;
                res.set_content("{\"code\":404}", "application/json");
            }
        });
        m_online.server.Get("/api/search", [this](const httplib::Request &, httplib::Response &res) {
            ++m_onlineCalls;
            res.set_content("[]", "application/json");
        });
        m_online.start();

        QFile file(m_folder.filePath("evening/soir.lrc"));
        QVERIFY(QDir().mkpath(m_folder.filePath("evening")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(folderLrc.toUtf8());
        file.close();

        m_clients = std::make_unique<ServerClients>(QStringList{"--lyrics-dir", m_folder.path(), "--lrclib-url",
                                                                QString::fromStdString(m_online.url())});
        QCOMPARE(m_clients->start(), QString());
        m_clients->signUpNew();
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<std::optional<RemoteLyricsError>>("error");
        QTest::addColumn<QString>("lyrics");
        QTest::addColumn<LyricsSource>("source");
        QTest::addColumn<std::optional<QString>>("language");
        QTest::addColumn<int>("onlineCalls"); // made by this row

        using E = std::optional<RemoteLyricsError>;
        const std::optional<QString> none;
        QTest::newRow("seeded demo song") << "Amazing Grace" << "Traditional" << E() << QString()
                                          << LyricsSource::manualImport << std::optional<QString>("en") << 0;
        QTest::newRow("LRC folder") << " Chanson du soir" << "les hiboux" << E() << folderLrc
                                    << LyricsSource::manualImport << std::optional<QString>("fr") << 0;
        QTest::newRow("online") << "Morning Walk" << "The Owls" << E() << onlineLrc << LyricsSource::lrclib
                                << std::optional<QString>("en") << 1;
        QTest::newRow("online again, from the cache") << "morning walk" << "THE OWLS" << E() << onlineLrc
                                                      << LyricsSource::cache << std::optional<QString>("en") << 0;
        QTest::newRow("nowhere") << "Nothing Here" << "Nobody" << E(RemoteLyricsError::notFound()) << QString()
                                 << LyricsSource::lrclib << none << 2;
        QTest::newRow("nowhere, remembered") << "Nothing Here" << "Nobody" << E(RemoteLyricsError::notFound())
                                             << QString() << LyricsSource::lrclib << none << 0;
        // A failed lookup is not "no lyrics": 502, which the program shows as its retryable
        // "服务器暂时不可用，请稍后重试。" state and asks about again next time.
        QTest::newRow("online database down") << "Down" << "The Owls" << E(RemoteLyricsError::server(502)) << QString()
                                              << LyricsSource::lrclib << none << 1;
        QTest::newRow("down again: asked again") << "Down" << "The Owls" << E(RemoteLyricsError::server(502))
                                                 << QString() << LyricsSource::lrclib << none << 1;
    }

    void outcomes()
    {
        QFETCH(QString, title);
        QFETCH(QString, artist);
        QFETCH(std::optional<RemoteLyricsError>, error);
        QFETCH(QString, lyrics);
        QFETCH(LyricsSource, source);
        QFETCH(std::optional<QString>, language);
        QFETCH(int, onlineCalls);

        const int callsBefore = m_onlineCalls;
        if (error) {
            QCOMPARE(failureOf(this->lyrics().fetch(title, artist, 120, QString())), error);
        } else {
            const RemoteLyricsFetchResult found = TaskRunner::run(this->lyrics().fetch(title, artist, 120, QString()));
            QVERIFY(found.result.isSynced());
            if (!lyrics.isEmpty())
                QCOMPARE(found.result.rawLRC(), lyrics);
            QCOMPARE(found.source, source);
            QCOMPARE(found.language, language);
        }
        QCOMPARE(m_onlineCalls - callsBefore, onlineCalls);
    }

    void cleanupTestCase()
    {
        m_clients.reset();
        m_online.stop();
    }
};

QTEST_GUILESS_MAIN(TestServerLyrics)
#include "tst_serverlyrics.moc"
