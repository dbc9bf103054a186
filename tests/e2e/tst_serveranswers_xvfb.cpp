// What the program shows for two answers of the real server that are not "found": an online
// lyrics lookup that failed (the online database unreachable: 502) is the retryable lyrics error,
// not "no lyrics"; cards for a song when the server has no language model (502 upstream_error) are
// the generation error, not "server unavailable". Screenshots go to build/screenshots/answers/.
#include "DemoApp.h"
#include "WindowDriver.h"

#include "app/ApplicationShell.h"
#include "session/player/PlayerViewModel.h"

#include <QTcpServer>
#include <QTest>

namespace {

const QString screenshots = QStringLiteral(CANTORELLA_BINARY_DIR "/screenshots/answers");

// English lyrics the server has in its LRC folder, with no cards anywhere.
const char *const morningLrc = "[ti:Morning Walk]\n[ar:The Test Owls]\n"
                               "[00:01.00]We walk along the river in the early morning light\n"
                               "[00:05.00]The birds are singing softly and the sky is clear and bright\n"
                               "[00:09.00]I hold your hand and listen to the water running by\n"
                               "[00:13.00]And every little worry seems to fade into the sky\n"
                               "[00:17.00]We talk about the summer and the places we will go\n"
                               "[00:21.00]The road is long and winding but we never take it slow\n";

// The item's opacity as drawn: its own times every ancestor's (cross-fades sit on containers).
double shownOpacity(QQuickItem *item)
{
    double opacity = 1;
    for (; item; item = item->parentItem())
        opacity *= item->isVisible() ? item->opacity() : 0;
    return opacity;
}

// True once the named item is fully shown (its fade-in over), within the bound of QTRY.
bool fullyShown(QQuickWindow *window, const QString &objectName)
{
    return QTest::qWaitFor([&] {
        QQuickItem *item = demo::findItem(window->contentItem(), objectName);
        return item && shownOpacity(item) > 0.999;
    }, 10000);
}

} // namespace

class TestServerAnswers : public QObject
{
    Q_OBJECT

    demo::Stage m_stage;
    demo::Playback &m_playback = m_stage.playback;
    QTemporaryDir m_lyrics;

private slots:
    void initTestCase()
    {
        QFile file(m_lyrics.filePath(QStringLiteral("morning.lrc")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(morningLrc);
        file.close();
        // The online database's address, where nothing listens any more.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString unreachable = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
        closed.close();

        const QString missing = demo::missingTool();
        QVERIFY2(missing.isEmpty(), qPrintable(missing));
        m_stage.bus = std::make_unique<PrivateSessionBus>();
        QVERIFY(m_stage.bus->isRunning());
        m_stage.bus->exportToEnvironment();
        qputenv("CANTORELLA_NOWPLAYING_READER", demo::readerPath.toLocal8Bit());
        QVERIFY(m_playback.makeSong(QStringLiteral("unknown.ogg"), QStringLiteral("Nowhere Song"),
                                    QStringLiteral("Nobody Known"), 60));
        QVERIFY(m_playback.makeSong(QStringLiteral("morning.ogg"), QStringLiteral("Morning Walk"),
                                    QStringLiteral("The Test Owls"), 60));
        QVERIFY(m_playback.startServer({QStringLiteral("--lrclib-url"), unreachable, QStringLiteral("--lyrics-dir"),
                                        m_lyrics.path()}));
    }

    void answers()
    {
        demo::SignedInApp app;
        QVERIFY(app.start(m_playback.base(), QStringLiteral("answers@example.com")));
        PlayerViewModel *vm = app.appState()->viewModel();

        QVERIFY(m_playback.play(QStringLiteral("unknown.ogg")));
        QTRY_COMPARE_WITH_TIMEOUT(vm->lyricsErrorDetail(), std::optional(QStringLiteral("服务器暂时不可用，请稍后重试。")), 30000);
        QTRY_VERIFY(!vm->isLoadingLyrics());
        QVERIFY(fullyShown(app.window(), QStringLiteral("lyricsArea.failureDetail")));
        QVERIFY(WindowDriver::screenshot(app.window(), screenshots, QStringLiteral("lyrics-lookup-failed")));

        QVERIFY(m_playback.play(QStringLiteral("morning.ogg")));
        QTRY_COMPARE_WITH_TIMEOUT(vm->cardsErrorDetail(), std::optional(QStringLiteral("AI 生成卡片失败,请稍后再试。")), 30000);
        QVERIFY(vm->lyricLines().size() == 6);
        QTRY_VERIFY(!vm->isLoadingCards());
        QVERIFY(fullyShown(app.window(), QStringLiteral("nowCardsError.detail")));
        QVERIFY(fullyShown(app.window(), QStringLiteral("lyricsArea.lines")));
        QVERIFY(WindowDriver::screenshot(app.window(), screenshots, QStringLiteral("cards-without-model")));
    }
};

CANTORELLA_APP_TEST_MAIN(TestServerAnswers)
#include "tst_serveranswers_xvfb.moc"
