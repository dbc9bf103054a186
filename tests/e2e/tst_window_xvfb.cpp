// The whole player window under a virtual X display, as a signed-in user sees it: the shell in
// this process on a private session bus, the local stand-in server and mpv with mpv-mpris playing
// a demo song. For several seconds mid-song, the lyric line lit on screen and the card row lit in
// the study panel are the ones the view model's position gives (within one tick). The History
// tab (a pick there locks the Now tab), the song story and the share sheet open over the same
// window, a toast above the sheet, the account popover.
// Screenshots of the whole window at 800 × 950 and 680 × 800 go to build/screenshots/window/.

#include "PrivateSessionBus.h"
#include "ShellFixture.h"
#include "TaskRunner.h"
#include "WindowDriver.h"

#include "app/ApplicationShell.h"
#include "backend/RemoteAPIConfig.h"
#include "session/player/CardSlot.h"
#include "session/player/PlayerViewModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace WindowDriver;

namespace {

const QString binaryDir = QStringLiteral(CANTORELLA_BINARY_DIR);
const QString readerPath = binaryDir + QStringLiteral("/src/app/nowplaying-reader");
const QString devServerPath = binaryDir + QStringLiteral("/tools/devserver/cantorella-devserver");
const QString screenshots = binaryDir + QStringLiteral("/screenshots/window");
const QString mprisScript = QStringLiteral("/usr/lib/mpv-mpris/mpris.so");

// Items of a Repeater have no QObject parent in the window: walk the visual tree.
void collect(QQuickItem *under, const QString &prefix, QList<QQuickItem *> &found)
{
    if (under->objectName().startsWith(prefix))
        found << under;
    for (QQuickItem *child : under->childItems())
        collect(child, prefix, found);
}

QList<QQuickItem *> itemsNamed(QQuickWindow *window, const QString &prefix)
{
    QList<QQuickItem *> found;
    collect(window->contentItem(), prefix, found);
    return found;
}

QQuickItem *visibleItem(QQuickWindow *window, const QString &name)
{
    for (QQuickItem *candidate : itemsNamed(window, name)) {
        if (candidate->objectName() == name && candidate->isVisible())
            return candidate;
    }
    return nullptr;
}

// The index of the lyric line drawn as the active one (state 0), or -1.
int activeLineOnScreen(QQuickWindow *window)
{
    int active = -1;
    for (QQuickItem *line : itemsNamed(window, QStringLiteral("lyricLine."))) {
        if (line->property("lineState").toInt() == 0) {
            if (active >= 0)
                return -2; // two lines lit at once
            active = line->property("index").toInt();
        }
    }
    return active;
}

// The slot id of the card row drawn as the active one, or "" (several: "several").
QString litSlotOnScreen(QQuickWindow *window)
{
    QString lit;
    for (QQuickItem *row : itemsNamed(window, QStringLiteral("now.row."))) {
        if (row->property("isActive").toBool()) {
            if (!lit.isEmpty())
                return QStringLiteral("several");
            lit = row->objectName().mid(QStringLiteral("now.row.").size());
        }
    }
    return lit;
}

// A click after the pointer has come to rest over the item, as a person clicks: the first press
// of a pointer that was never over the window is not delivered as a click here.
bool pointAndClick(QQuickWindow *window, QQuickItem *target)
{
    if (!target || !target->isVisible())
        return false;
    QTest::mouseMove(window, target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    QTest::qWait(100);
    return click(window, target);
}

int lineAt(PlayerViewModel *vm, double t)
{
    return int(vm->activeLineIndex(t).value_or(-1));
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<PrivateSessionBus> m_bus;
    QTemporaryDir m_files;
    QProcess m_devServer;
    QProcess m_mpv;
    QUrl m_base;

    static void stop(QProcess &process)
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(3000);
    }

private slots:
    void initTestCase()
    {
        for (const QString &path : {readerPath, devServerPath, mprisScript})
            QVERIFY2(QFile::exists(path), qPrintable(path));
        for (const char *tool : {"mpv", "sox"})
            QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(), tool);
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "run under xvfb-run -a");
        QVERIFY(m_files.isValid());
        m_bus = std::make_unique<PrivateSessionBus>();
        QVERIFY(m_bus->isRunning());
        m_bus->exportToEnvironment();
        qputenv("CANTORELLA_NOWPLAYING_READER", readerPath.toLocal8Bit());

        QProcess sox;
        sox.start(QStringLiteral("sox"),
                  {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("22050"), QStringLiteral("-c"),
                   QStringLiteral("1"), QStringLiteral("--comment"), QStringLiteral("TITLE=Amazing Grace"),
                   QStringLiteral("--add-comment"), QStringLiteral("ARTIST=Traditional"),
                   m_files.filePath(QStringLiteral("grace.ogg")), QStringLiteral("synth"), QStringLiteral("82"),
                   QStringLiteral("sine"), QStringLiteral("440"), QStringLiteral("vol"), QStringLiteral("0.3")});
        QVERIFY(sox.waitForFinished(30000) && sox.exitCode() == 0);

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

    void cleanupTestCase()
    {
        stop(m_mpv);
        stop(m_devServer);
    }

    void theWindowFollowsADemoSong()
    {
        auto secrets = std::make_shared<InMemorySecretStore>();
        auto http = std::make_shared<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
        AuthService auth(SupabaseConfig{m_base, QStringLiteral("local-demo-anon-key")},
                         KeychainStore(QStringLiteral("com.cantorella.Cantorella.auth"),
                                       QStringLiteral("supabase-session"), secrets),
                         http, WallClock::system());
        TaskRunner::run(auth.waitForStoredSession());
        TaskRunner::run(auth.signUp(QStringLiteral("window@example.com"), QStringLiteral("secret-password-1")));
        QVERIFY(auth.isSignedIn());
        QTemporaryDir data;
        QSettings settings(data.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        AppStateDependencies deps;
        deps.auth = &auth;
        deps.dataFolder = data.filePath(QStringLiteral("store"));
        deps.settings = &settings;
        deps.http = http.get();
        deps.apiBaseURL = m_base;
        ApplicationShell shell(deps);
        QQuickWindow *window = shell.mainWindow();
        QVERIFY(window);
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_COMPARE_WITH_TIMEOUT(shownView(window), QStringLiteral("playerView"), 10000);

        m_mpv.setProgram(QStringLiteral("mpv"));
        m_mpv.setArguments({QStringLiteral("--no-config"), QStringLiteral("--script=") + mprisScript,
                            QStringLiteral("--no-video"), QStringLiteral("--ao=null"), QStringLiteral("--no-terminal"),
                            m_files.filePath(QStringLiteral("grace.ogg"))});
        m_mpv.setStandardOutputFile(QProcess::nullDevice());
        m_mpv.setStandardErrorFile(QProcess::nullDevice());
        m_mpv.start();
        QVERIFY(m_mpv.waitForStarted(5000));

        PlayerViewModel *vm = shell.appState()->viewModel();
        QVERIFY(vm);
        QTRY_VERIFY_WITH_TIMEOUT(!vm->cards().isEmpty() && vm->currentStory().has_value()
                                     && !vm->lyricLines().isEmpty() && !vm->isLoadingCards(),
                                 20000);
        QTRY_COMPARE(item(window, QStringLiteral("compactPanel.title"))->property("text").toString(),
                     QStringLiteral("Amazing Grace"));
        // The first sung line starts at 6.4 s; wait until the song is well into it.
        QTRY_VERIFY_WITH_TIMEOUT(vm->displayedElapsed() > 8.0, 15000);

        // Several seconds of playback: what is lit on screen is what the view model's position
        // gives, a tick (0.1 s lyrics, 0.2 s Now) either side.
        const QList<CardSlot> slotList = CardSlotExpander::expand(vm->cards());
        int checks = 0;
        QElapsedTimer watch;
        watch.start();
        while (watch.elapsed() < 8000) {
            QTest::qWait(400);
            const double t = vm->displayedElapsed();
            const int line = activeLineOnScreen(window);
            QVERIFY2(line == lineAt(vm, t - 0.3) || line == lineAt(vm, t + 0.1),
                     qPrintable(QStringLiteral("at %1 s the screen lights line %2").arg(t).arg(line)));
            const QString slot = litSlotOnScreen(window);
            const QString before = CardSlotExpander::activeSlotId(slotList, t - 0.45).value_or(QString());
            const QString after = CardSlotExpander::activeSlotId(slotList, t + 0.1).value_or(QString());
            QVERIFY2(slot == before || slot == after,
                     qPrintable(QStringLiteral("at %1 s the screen lights row %2").arg(t).arg(slot)));
            checks += line >= 0 && !slot.isEmpty();
        }
        QVERIFY2(checks >= 10, qPrintable(QString::number(checks)));

        for (const QSize size : {QSize(800, 950), QSize(680, 800)}) {
            resize(window, size.width(), size.height());
            QTest::qWait(500); // the list's scroll to the lit line settles
            QVERIFY(screenshot(window, screenshots, QStringLiteral("player")));
        }
        resize(window, 800, 950);

        // The History tab lists the song.
        QQuickItem *panel = item(window, QStringLiteral("studyPanel"));
        QVERIFY(panel);
        panel->property("controller").value<QObject *>()->setProperty("selectedTab", 1);
        QTRY_VERIFY(visibleItem(window, QStringLiteral("studyPanel.history")));
        QTest::qWait(600);
        QVERIFY(screenshot(window, screenshots, QStringLiteral("history")));
        // Picking the song there locks the Now tab on it; the return chip lets go.
        QVERIFY(pointAndClick(window, visibleItem(window, QStringLiteral("songRow.playingDot"))));
        QTRY_COMPARE(panel->property("currentTab").value<QQuickItem *>()->objectName(), QStringLiteral("studyPanel.now"));
        QObject *tabs = panel->property("controller").value<QObject *>();
        QVERIFY(tabs->property("lockedSong").value<QObject *>());
        QTRY_VERIFY(visibleItem(window, QStringLiteral("now.returnChip")));
        QTest::qWait(600);
        QVERIFY(screenshot(window, screenshots, QStringLiteral("locked")));
        QVERIFY(pointAndClick(window, visibleItem(window, QStringLiteral("now.returnChip"))));
        QTRY_VERIFY(!tabs->property("lockedSong").value<QObject *>());
        QTRY_VERIFY(visibleItem(window, QStringLiteral("now.list")));

        // The story button opens the story over the whole window.
        QTRY_VERIFY(visibleItem(window, QStringLiteral("storyButton")));
        QQuickItem *storyButton = visibleItem(window, QStringLiteral("storyButton"));
        QSignalSpy storyClicked(storyButton, SIGNAL(clicked()));
        QVERIFY(pointAndClick(window, storyButton));
        // Once, on a loaded machine, the virtual display dropped a synthetic click before the button
        // saw it: then click again. A click the button did see must open the story.
        if (storyClicked.isEmpty() && !storyClicked.wait(1000))
            QVERIFY(pointAndClick(window, storyButton));
        QTRY_VERIFY(storyClicked.count() > 0);
        QTRY_VERIFY(vm->isStoryModalOpen());
        QTest::qWait(600);
        QVERIFY(screenshot(window, screenshots, QStringLiteral("story")));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!vm->isStoryModalOpen());

        // A lit card's share control opens the window's share sheet.
        QQuickItem *litRow = nullptr;
        QTRY_VERIFY((litRow = visibleItem(window, QStringLiteral("now.row.") + litSlotOnScreen(window))));
        QList<QQuickItem *> shares;
        collect(litRow, QStringLiteral("glassCard.share"), shares);
        QVERIFY(!shares.isEmpty());
        QObject *sheet = window->findChild<QObject *>(QStringLiteral("shareSheet"));
        QVERIFY(sheet);
        QSignalSpy shareClicked(shares.first(), SIGNAL(clicked()));
        QVERIFY(pointAndClick(window, shares.first()));
        if (shareClicked.isEmpty() && !shareClicked.wait(1000))
            QVERIFY(pointAndClick(window, shares.first())); // a dropped synthetic click, as above
        QTRY_VERIFY(sheet->property("opened").toBool());
        QTest::qWait(400);
        QVERIFY(screenshot(window, screenshots, QStringLiteral("share")));
        // A toast floats above the open sheet.
        shell.appState()->toastCenter()->show(QStringLiteral("已复制 / Copied"), 1.5);
        QTRY_VERIFY(item(window, QStringLiteral("toastView.capsule"))->opacity() > 0.9);
        QVERIFY(screenshot(window, screenshots, QStringLiteral("share-toast")));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!sheet->property("visible").toBool());

        // The account icon's popover opens over the lyrics side, whole.
        QVERIFY(pointAndClick(window, visibleItem(window, QStringLiteral("userInfoIcon"))));
        QObject *popover = window->findChild<QObject *>(QStringLiteral("userInfoPopover"));
        QVERIFY(popover);
        QTRY_VERIFY(popover->property("opened").toBool());
        QVERIFY(screenshot(window, screenshots, QStringLiteral("account")));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!popover->property("visible").toBool());

        shell.shutdown();
        stop(m_mpv);
    }
};

int main(int argc, char *argv[])
{
    ApplicationShell::prepareProcess();
    QApplication app(argc, argv);
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_xvfb.moc"
