// End to end: mpv with mpv-mpris plays a demo song of the local server on a private
// bus; the real reader, source, monitor, coordinator, clients, server and store carry it
// into the view model and the store file.

#include "ChildProcess.h"
#include "PrivateSessionBus.h"
#include "TaskRunner.h"

#include "backend/AuthService.h"
#include "backend/KeychainStore.h"
#include "backend/RemoteAPIConfig.h"
#include "backend/RemoteLLMProvider.h"
#include "backend/RemoteLyricsProvider.h"
#include "backend/RemoteSongStoryProvider.h"
#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "platform/SecretStore.h"
#include "session/LocalCardsRepository.h"
#include "session/nowplaying/MprisNowPlayingSource.h"
#include "session/nowplaying/NowPlayingMonitor.h"
#include "session/player/PlayerViewModel.h"
#include "session/SessionCoordinator.h"

#include <QProcess>
#include "ServerProcess.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString readerPath = QStringLiteral(CANTORELLA_BINARY_DIR "/src/app/nowplaying-reader");
const QString serverPath = QStringLiteral(CANTORELLA_BINARY_DIR "/src/server/cantorella-server");
const QString anonKey = QStringLiteral("demo-anon-key");
const QString mprisScript = QStringLiteral("/usr/lib/mpv-mpris/mpris.so");
const QString demoTitle = QStringLiteral("Amazing Grace");
const QString demoArtist = QStringLiteral("Traditional");

} // namespace

class TestPipelineEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateSessionBus> m_bus;
    QTemporaryDir m_files;
    std::unique_ptr<ServerProcess> m_server;
    QProcess m_mpv;
    QUrl m_base;

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(readerPath), qPrintable(readerPath));
        QVERIFY2(QFile::exists(serverPath), qPrintable(serverPath));
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("mpv")).isEmpty(), "mpv is not installed");
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty(), "sox is not installed");
        QVERIFY2(QFile::exists(mprisScript), "mpv-mpris is not installed");
        QVERIFY(m_files.isValid());
        m_bus = std::make_unique<PrivateSessionBus>();
        QVERIFY2(m_bus->isRunning(), "dbus-daemon did not start");
        m_bus->exportToEnvironment();

        // The demo song, tagged as the seeded server knows it.
        QProcess sox;
        ChildProcess::diesWithTest(sox);
        sox.start(QStringLiteral("sox"),
                  {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("22050"), QStringLiteral("-c"),
                   QStringLiteral("1"), QStringLiteral("--comment"), QStringLiteral("TITLE=") + demoTitle,
                   QStringLiteral("--add-comment"), QStringLiteral("ARTIST=") + demoArtist,
                   m_files.filePath(QStringLiteral("demo.ogg")), QStringLiteral("synth"), QStringLiteral("90"),
                   QStringLiteral("sine"), QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.3")});
        QVERIFY(sox.waitForFinished(30000) && sox.exitCode() == 0);

        m_server = std::make_unique<ServerProcess>(ServerProcess::Options{serverPath, QString(), {}, QString(), anonKey});
        QCOMPARE(m_server->start(), QString());
        m_base = m_server->baseUrl();
        QVERIFY(m_base.isValid());
    }

    void cleanupTestCase()
    {
        m_server.reset();
        for (QProcess *process : {&m_mpv}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(3000))
                process->kill();
            process->waitForFinished(3000);
        }
    }

    void demoSongReachesScreenAndStore()
    {
        // A signed-in user of the server.
        auto secrets = std::make_shared<InMemorySecretStore>();
        auto http = std::make_shared<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
        AuthService auth(SupabaseConfig{m_base, anonKey},
                         KeychainStore(QStringLiteral("com.cantorella.Cantorella.auth"),
                                       QStringLiteral("supabase-session"), secrets),
                         http, WallClock::system());
        TaskRunner::run(auth.waitForStoredSession());
        TaskRunner::run(auth.signUp(QStringLiteral("e2e@example.com"), QStringLiteral("secret-password-1")));
        if (!auth.isSignedIn())
            TaskRunner::run(auth.signIn(QStringLiteral("e2e@example.com"), QStringLiteral("secret-password-1")));
        QVERIFY(auth.isSignedIn());

        // The user's graph, as the application builds it.
        QTemporaryDir data;
        const QString storePath = data.filePath(QStringLiteral("default-e2e-en.store"));
        QSettings settings(data.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        auto container = StoreContainer::open(storePath);
        auto actor = std::make_shared<CardStoreActor>(container);
        CardStore cardStore(container);
        MprisNowPlayingSource::Options options;
        options.readerPath = readerPath;
        options.bus = QDBusConnection::sessionBus();
        NowPlayingMonitor monitor(std::make_unique<MprisNowPlayingSource>(options));
        auto lyricsClient = std::make_shared<RemoteLyricsProvider>(http.get(), &auth, m_base);
        auto llm = std::make_shared<RemoteLLMProvider>(http.get(), m_base, &auth);
        auto story = std::make_shared<RemoteSongStoryProvider>(http.get(), m_base, &auth);
        PlayerViewModelDependencies deps;
        deps.userId = QStringLiteral("e2e");
        deps.settings = &settings;
        PlayerViewModel vm([] { return ContinuousClock::system()->now(); }, deps);
        SessionCoordinator coordinator(&monitor, std::make_shared<LocalLyricsRepository>(lyricsClient),
                                       std::make_shared<LocalCardsRepository>(&cardStore, llm), llm, &cardStore,
                                       actor, &vm, nullptr, story);
        coordinator.start();

        m_mpv.setProgram(QStringLiteral("mpv"));
        m_mpv.setArguments({QStringLiteral("--no-config"), QStringLiteral("--script=") + mprisScript,
                            QStringLiteral("--no-video"), QStringLiteral("--ao=null"), QStringLiteral("--no-terminal"),
                            m_files.filePath(QStringLiteral("demo.ogg"))});
        m_mpv.setStandardOutputFile(QProcess::nullDevice());
        m_mpv.setStandardErrorFile(QProcess::nullDevice());
        ChildProcess::diesWithTest(m_mpv);
        m_mpv.start();
        QVERIFY(m_mpv.waitForStarted(5000));

        QTRY_VERIFY_WITH_TIMEOUT(vm.track() && vm.track()->title == demoTitle, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!vm.cards().isEmpty() && vm.currentStory().has_value() && !vm.isLoadingLyrics()
                                     && !vm.isLoadingCards(),
                                 20000);
        QVERIFY(!vm.lyricLines().isEmpty());
        QCOMPARE(vm.currentLanguage(), std::optional<QString>(QStringLiteral("en")));
        QVERIFY(!vm.errorState().has_value());
        QVERIFY(!vm.currentStory()->article.trimmed().isEmpty());
        const qsizetype shownCards = vm.cards().size();
        coordinator.stop();

        // The store file, read through a connection of its own.
        auto reopened = StoreContainer::open(storePath);
        CardStoreActor reader(reopened);
        const auto record = QCoro::waitFor(reader.snapshot(QStringLiteral("traditional|amazing grace")));
        QVERIFY(record.has_value());
        QCOMPARE(record->cards.size(), shownCards);
        QVERIFY(!record->lyrics.isEmpty());
        QCOMPARE(record->language, std::optional<QString>(QStringLiteral("en")));
        QCOMPARE(record->playCount, 1);
        QTRY_VERIFY(QCoro::waitFor(reader.snapshot(QStringLiteral("traditional|amazing grace")))->storyArticle.has_value());
    }
};

QTEST_GUILESS_MAIN(TestPipelineEndToEnd)
#include "tst_pipeline.moc"
