// Real use of the Now tab: mpv with mpv-mpris plays the stand-in server's demo songs on a private
// bus; the real session carries them into the view model and the store, and the Now view (offscreen)
// shows them. Asserted on the screen objects: for 20 s the lit row is the slot of mpv's position
// (within a tick) and stays centred; mastering a card on screen reaches the store file; a seek
// into the last 6 s shows the wrap-up counting it; the French demo song shows the not-target state.

#include "DemoAccount.h"
#include "DemoPlayback.h"
#include "PrivateSessionBus.h"
#include "../ui/DesignTestSupport.h"

#include "backend/RemoteLLMProvider.h"
#include "backend/RemoteLyricsProvider.h"
#include "backend/RemoteSongStoryProvider.h"
#include "core/store/CardStore.h"
#include "core/store/CardStoreActor.h"
#include "core/store/StoreContainer.h"
#include "session/LocalCardsRepository.h"
#include "session/SessionCoordinator.h"
#include "session/ToastCenter.h"
#include "session/nowplaying/MprisNowPlayingSource.h"
#include "session/nowplaying/NowPlayingMonitor.h"
#include "session/player/PlayerViewModel.h"
#include "session/qml/ClockHandle.h"
#include "ui/player/NowViewController.h"

#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestNowEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateSessionBus> m_bus;
    demo::Playback m_playback;

private slots:
    void initTestCase()
    {
        designtest::configureApplication();
        const QString missing = demo::missingTool();
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
        m_bus = std::make_unique<PrivateSessionBus>();
        QVERIFY2(m_bus->isRunning(), "dbus-daemon did not start");
        m_bus->exportToEnvironment();
        QVERIFY(m_playback.makeSong(QStringLiteral("grace.ogg"), QStringLiteral("Amazing Grace"),
                                    QStringLiteral("Traditional"), 82));
        QVERIFY(m_playback.makeSong(QStringLiteral("lune.ogg"), QStringLiteral("Au clair de la lune"),
                                    QStringLiteral("Traditionnel"), 72));
        QVERIFY(m_playback.startServer());
    }

    // QML warnings fail; the session's own warnings (mpv's first sample, before its tags are read,
    // can be refused by the server) do not.
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("qrc:/|QML|qml"))); }

    void nowTabFollowsMpv()
    {
        DemoAccount account;
        QVERIFY(account.signIn(m_playback.base(), QStringLiteral("now@example.com")));
        AuthService &auth = *account.auth;
        HttpSession *http = account.http.get();
        const QUrl base = m_playback.base();

        QTemporaryDir data;
        const QString storePath = data.filePath(QStringLiteral("default-now-en.store"));
        QSettings settings(data.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        auto container = StoreContainer::open(storePath);
        auto actor = std::make_shared<CardStoreActor>(container);
        CardStore cardStore(container);
        MprisNowPlayingSource::Options options;
        options.readerPath = demo::readerPath;
        options.bus = QDBusConnection::sessionBus();
        NowPlayingMonitor monitor(std::make_unique<MprisNowPlayingSource>(options));
        auto lyricsClient = std::make_shared<RemoteLyricsProvider>(http, &auth, base);
        auto llm = std::make_shared<RemoteLLMProvider>(http, base, &auth);
        auto story = std::make_shared<RemoteSongStoryProvider>(http, base, &auth);
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

        QVERIFY(m_playback.play(QStringLiteral("grace.ogg")));
        QTRY_VERIFY_WITH_TIMEOUT(ctl->listContent() == NowViewController::Cards, 20000);
        const QList<CardSlot> slotList = CardSlotExpander::expand(vm.cards());

        // 20 s of playback: the lit row is the slot at mpv's position, within one tick.
        int centred = 0;
        int checks = 0;
        QElapsedTimer watch;
        watch.start();
        while (watch.elapsed() < 20000) {
            QTest::qWait(500);
            const double position = demo::Playback::position() + vm.effectiveOffset();
            const auto before = CardSlotExpander::activeSlotId(slotList, position - 0.45);
            const auto after = CardSlotExpander::activeSlotId(slotList, position + 0.1);
            const QString lit = ctl->activeSlotIdText();
            QVERIFY2(lit == before.value_or(QString()) || lit == after.value_or(QString()),
                     qPrintable(QStringLiteral("at %1: %2").arg(position).arg(lit)));
            if (!lit.isEmpty()) {
                ++checks;
                QQuickItem *row = demo::findItem(scene.root, QStringLiteral("now.row.") + lit);
                QVERIFY(row);
                // Centred, or as near as the ends of the list allow.
                if (std::abs(demo::offCentre(row, flick)) <= 1.0)
                    ++centred;
            }
        }
        QVERIFY(checks > 10);
        QVERIFY2(centred >= checks - 2, qPrintable(QStringLiteral("%1 of %2 centred").arg(centred).arg(checks)));

        // Mastering the lit card on screen reaches the store file.
        QQuickItem *litRow = demo::findItem(scene.root, QStringLiteral("now.row.") + ctl->activeSlotIdText());
        QVERIFY(litRow);
        QQuickItem *mastered = demo::findItem(litRow, QStringLiteral("glassCard.mastered"));
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
        demo::Playback::control({QStringLiteral("position"), QStringLiteral("76.5")});
        QTRY_VERIFY_WITH_TIMEOUT(ctl->showWrapUp(), 5000);
        QCOMPARE(ctl->wrapUpHeadline(), QStringLiteral("本次掌握了 1 句 🎉"));
        QQuickItem *headline = demo::findItem(scene.root, QStringLiteral("wrapUp.headline"));
        QTRY_VERIFY(headline && headline->isVisible());
        QCOMPARE(headline->property("text").toString(), QStringLiteral("本次掌握了 1 句 🎉"));

        // The French demo song: the not-target state.
        QVERIFY(m_playback.play(QStringLiteral("lune.ogg")));
        QTRY_VERIFY_WITH_TIMEOUT(ctl->listContent() == NowViewController::NotTargetLanguage, 20000);
        QTRY_VERIFY(demo::findItem(scene.root, QStringLiteral("now.notTarget"))->isVisible());

        m_playback.stopPlayer();
        coordinator.stop();
        delete scene.root;
        scene.root = nullptr;
    }
};

QTEST_MAIN(TestNowEndToEnd)
#include "tst_now_e2e.moc"
