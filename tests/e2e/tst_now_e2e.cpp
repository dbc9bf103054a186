// Real use of the Now tab: mpv with mpv-mpris plays the stand-in server's demo songs on a private
// bus; the real session carries them into the view model and the store, and the Now view (offscreen)
// shows them. Asserted on the screen objects: for 20 s the lit row is the slot of mpv's position
// (within a tick) and stays centred; mastering a card on screen reaches the store file; a seek
// into the last 6 s shows the wrap-up counting it; the French demo song shows the not-target state.

#include "PrivateSessionBus.h"
#include "TaskRunner.h"
#include "../ui/DesignTestSupport.h"

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
#include "session/SessionCoordinator.h"
#include "session/ToastCenter.h"
#include "session/nowplaying/MprisNowPlayingSource.h"
#include "session/nowplaying/NowPlayingMonitor.h"
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"
#include "ui/player/NowViewController.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString readerPath = QStringLiteral(CANTORELLA_BINARY_DIR "/src/app/nowplaying-reader");
const QString devServerPath = QStringLiteral(CANTORELLA_BINARY_DIR "/tools/devserver/cantorella-devserver");
const QString mprisScript = QStringLiteral("/usr/lib/mpv-mpris/mpris.so");

QQuickItem *findItem(QQuickItem *under, const QString &objectName)
{
    if (!under)
        return nullptr;
    if (under->objectName() == objectName)
        return under;
    for (QQuickItem *child : under->childItems()) {
        if (QQuickItem *found = findItem(child, objectName))
            return found;
    }
    return nullptr;
}

// mpv's position in seconds, read over MPRIS.
double mpvPosition()
{
    QProcess p;
    p.start(QStringLiteral("playerctl"), {QStringLiteral("-p"), QStringLiteral("mpv"), QStringLiteral("position")});
    p.waitForFinished(3000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed().toDouble();
}

void playerctl(const QStringList &arguments)
{
    QProcess p;
    p.start(QStringLiteral("playerctl"), QStringList{QStringLiteral("-p"), QStringLiteral("mpv")} + arguments);
    p.waitForFinished(3000);
}

} // namespace

class TestNowEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateSessionBus> m_bus;
    QTemporaryDir m_files;
    QProcess m_devServer;
    QProcess m_mpv;
    QUrl m_base;

    bool makeSong(const QString &file, const QString &title, const QString &artist, int seconds)
    {
        QProcess sox;
        sox.start(QStringLiteral("sox"),
                  {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("22050"), QStringLiteral("-c"),
                   QStringLiteral("1"), QStringLiteral("--comment"), QStringLiteral("TITLE=") + title,
                   QStringLiteral("--add-comment"), QStringLiteral("ARTIST=") + artist, m_files.filePath(file),
                   QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"), QStringLiteral("440"),
                   QStringLiteral("vol"), QStringLiteral("0.3")});
        return sox.waitForFinished(30000) && sox.exitCode() == 0;
    }

    void play(const QString &file)
    {
        stopMpv();
        m_mpv.setProgram(QStringLiteral("mpv"));
        m_mpv.setArguments({QStringLiteral("--no-config"), QStringLiteral("--script=") + mprisScript,
                            QStringLiteral("--no-video"), QStringLiteral("--ao=null"), QStringLiteral("--no-terminal"),
                            m_files.filePath(file)});
        m_mpv.setStandardOutputFile(QProcess::nullDevice());
        m_mpv.setStandardErrorFile(QProcess::nullDevice());
        m_mpv.start();
        QVERIFY(m_mpv.waitForStarted(5000));
    }

    void stopMpv()
    {
        if (m_mpv.state() == QProcess::NotRunning)
            return;
        m_mpv.terminate();
        if (!m_mpv.waitForFinished(3000))
            m_mpv.kill();
        m_mpv.waitForFinished(3000);
    }

private slots:
    void initTestCase()
    {
        designtest::configureApplication();
        for (const char *tool : {"mpv", "sox", "playerctl"})
            QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(), tool);
        QVERIFY2(QFile::exists(readerPath), qPrintable(readerPath));
        QVERIFY2(QFile::exists(devServerPath), qPrintable(devServerPath));
        QVERIFY2(QFile::exists(mprisScript), "mpv-mpris is not installed");
        m_bus = std::make_unique<PrivateSessionBus>();
        QVERIFY2(m_bus->isRunning(), "dbus-daemon did not start");
        m_bus->exportToEnvironment();
        QVERIFY(makeSong(QStringLiteral("grace.ogg"), QStringLiteral("Amazing Grace"), QStringLiteral("Traditional"), 82));
        QVERIFY(makeSong(QStringLiteral("lune.ogg"), QStringLiteral("Au clair de la lune"), QStringLiteral("Traditionnel"), 72));

        m_devServer.setProgram(devServerPath);
        m_devServer.setArguments({QStringLiteral("--port"), QStringLiteral("0")});
        m_devServer.start();
        QVERIFY(m_devServer.waitForStarted(5000));
        const QRegularExpression listening(QStringLiteral("Listening on (\\S+)"));
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += m_devServer.readAllStandardOutput(),
                                  listening.match(QString::fromUtf8(output)).hasMatch()),
                                 10000);
        m_base = QUrl(listening.match(QString::fromUtf8(output)).captured(1));
    }

    // QML warnings fail; the session's own warnings (mpv's first sample, before its tags are read,
    // can be refused by the server) do not.
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("qrc:/|QML|qml"))); }

    void cleanupTestCase()
    {
        stopMpv();
        if (m_devServer.state() != QProcess::NotRunning) {
            m_devServer.terminate();
            if (!m_devServer.waitForFinished(3000))
                m_devServer.kill();
        }
    }

    void nowTabFollowsMpv()
    {
        auto secrets = std::make_shared<InMemorySecretStore>();
        auto http = std::make_shared<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
        AuthService auth(SupabaseConfig{m_base, QStringLiteral("demo-anon-key")},
                         KeychainStore(QStringLiteral("com.cantorella.Cantorella.auth"),
                                       QStringLiteral("supabase-session"), secrets),
                         http, WallClock::system());
        TaskRunner::run(auth.waitForStoredSession());
        TaskRunner::run(auth.signUp(QStringLiteral("now@example.com"), QStringLiteral("secret-password-1")));
        if (!auth.isSignedIn())
            TaskRunner::run(auth.signIn(QStringLiteral("now@example.com"), QStringLiteral("secret-password-1")));
        QVERIFY(auth.isSignedIn());

        QTemporaryDir data;
        const QString storePath = data.filePath(QStringLiteral("default-now-en.store"));
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
        deps.userId = QStringLiteral("now");
        deps.settings = &settings;
        PlayerViewModel vm([] { return ContinuousClock::system()->now(); }, deps);
        CardLightingCoordinator lighting;
        ToastCenter toasts;
        ClockHandle clocks;
        SessionCoordinator coordinator(&monitor, std::make_shared<LocalLyricsRepository>(lyricsClient),
                                       std::make_shared<LocalCardsRepository>(&cardStore, llm), llm, &cardStore,
                                       actor, &vm, &lighting, story, &toasts);
        coordinator.start();

        designtest::Scene scene;
        QVERIFY(scene.load("import QtQuick\nimport Cantorella.Player\nNowView {}\n", {440, 800},
                           {{QStringLiteral("vm"), QVariant::fromValue(&vm)},
                            {QStringLiteral("cardStore"), QVariant::fromValue(&cardStore)},
                            {QStringLiteral("cardLighting"), QVariant::fromValue(&lighting)},
                            {QStringLiteral("toastCenter"), QVariant::fromValue(&toasts)},
                            {QStringLiteral("clocks"), QVariant::fromValue(&clocks)},
                            {QStringLiteral("reduceMotion"), false}}));
        auto *ctl = scene.root->property("controller").value<NowViewController *>();
        QQuickItem *flick = scene.find(QStringLiteral("now.list"));
        QVERIFY(ctl && flick);

        play(QStringLiteral("grace.ogg"));
        QTRY_VERIFY_WITH_TIMEOUT(ctl->listContent() == NowViewController::Cards, 20000);
        const QList<CardSlot> slotList = CardSlotExpander::expand(vm.cards());

        // 20 s of playback: the lit row is the slot at mpv's position, within one tick.
        int centred = 0;
        int checks = 0;
        QElapsedTimer watch;
        watch.start();
        while (watch.elapsed() < 20000) {
            QTest::qWait(500);
            const double position = mpvPosition() + vm.effectiveOffset();
            const auto before = CardSlotExpander::activeSlotId(slotList, position - 0.45);
            const auto after = CardSlotExpander::activeSlotId(slotList, position + 0.1);
            const QString lit = ctl->activeSlotIdText();
            QVERIFY2(lit == before.value_or(QString()) || lit == after.value_or(QString()),
                     qPrintable(QStringLiteral("at %1: %2").arg(position).arg(lit)));
            if (!lit.isEmpty()) {
                ++checks;
                QQuickItem *row = findItem(scene.root, QStringLiteral("now.row.") + lit);
                QVERIFY(row);
                const double offCentre = row->mapToItem(flick, QPointF(0, 0)).y() + row->height() / 2 - flick->height() / 2;
                const double contentY = flick->property("contentY").toDouble();
                const double maxY = std::max(0.0, flick->property("contentHeight").toDouble() - flick->height());
                // Centred, or as near as the ends of the list allow.
                if (std::abs(offCentre) <= 1.0 || contentY <= 0.5 || contentY >= maxY - 0.5)
                    ++centred;
            }
        }
        QVERIFY(checks > 10);
        QVERIFY2(centred >= checks - 2, qPrintable(QStringLiteral("%1 of %2 centred").arg(centred).arg(checks)));

        // Mastering the lit card on screen reaches the store file.
        QQuickItem *litRow = findItem(scene.root, QStringLiteral("now.row.") + ctl->activeSlotIdText());
        QVERIFY(litRow);
        QQuickItem *mastered = findItem(litRow, QStringLiteral("glassCard.mastered"));
        QTest::mouseClick(scene.window.get(), Qt::LeftButton, {},
                          mastered->mapToScene(QPointF(mastered->width() / 2, mastered->height() / 2)).toPoint());
        CardStoreActor reader(StoreContainer::open(storePath));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const auto record = QCoro::waitFor(reader.snapshot(QStringLiteral("traditional|amazing grace")));
                return record && std::any_of(record->cards.cbegin(), record->cards.cend(),
                                             [](const auto &card) { return card.isMastered; });
            }(),
            5000);

        // A seek into the last 6 s shows the wrap-up with that card.
        playerctl({QStringLiteral("position"), QStringLiteral("76.5")});
        QTRY_VERIFY_WITH_TIMEOUT(ctl->showWrapUp(), 5000);
        QCOMPARE(ctl->wrapUpHeadline(), QStringLiteral("本次掌握了 1 句 🎉"));
        QQuickItem *headline = findItem(scene.root, QStringLiteral("wrapUp.headline"));
        QTRY_VERIFY(headline && headline->isVisible());
        QCOMPARE(headline->property("text").toString(), QStringLiteral("本次掌握了 1 句 🎉"));

        // The French demo song: the not-target state.
        play(QStringLiteral("lune.ogg"));
        QTRY_VERIFY_WITH_TIMEOUT(ctl->listContent() == NowViewController::NotTargetLanguage, 20000);
        QTRY_VERIFY(findItem(scene.root, QStringLiteral("now.notTarget"))->isVisible());

        stopMpv();
        coordinator.stop();
        delete scene.root;
        scene.root = nullptr;
    }
};

QTEST_MAIN(TestNowEndToEnd)
#include "tst_now_e2e.moc"
