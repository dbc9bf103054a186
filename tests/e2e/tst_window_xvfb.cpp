// The whole player window under a virtual X display, as a signed-in user sees it: the shell in
// this process on a private session bus, the local stand-in server and mpv with mpv-mpris playing
// a demo song. For several seconds mid-song, the lyric line lit on screen and the card row lit in
// the study panel are the ones the view model's position gives (within one tick). The History
// tab (a pick there locks the Now tab), the song story (its button lit by the demo song's story) and the share sheet open over the same
// window, a toast above the sheet, the account popover.
// Screenshots of the whole window at 800 × 950 and 680 × 800 go to build/screenshots/window/.

#include "DemoApp.h"
#include "WindowDriver.h"

#include "session/ToastCenter.h"
#include "session/player/CardSlot.h"
#include "session/player/PlayerViewModel.h"
#include "ui/library/StoryButtonModel.h"

#include <QElapsedTimer>
#include <QTest>

using namespace WindowDriver;

namespace {

const QString screenshots = QStringLiteral(CANTORELLA_BINARY_DIR "/screenshots/window");

// Items whose name starts with `prefix` (lyric lines, card rows), through the visual tree.
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
    return firstVisible(window->contentItem(), name);
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

int lineAt(PlayerViewModel *vm, double t)
{
    return int(vm->activeLineIndex(t).value_or(-1));
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

    demo::Stage m_stage;
    demo::Playback &m_playback = m_stage.playback;

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "run on an X display (support/on-own-display.sh)");
        const QString failed = m_stage.start();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    void theWindowFollowsADemoSong()
    {
        demo::SignedInApp app;
        QVERIFY(app.start(m_playback.base(), QStringLiteral("window@example.com")));
        QQuickWindow *window = app.window();
        QVERIFY(m_playback.play(QStringLiteral("grace.ogg")));

        PlayerViewModel *vm = app.appState()->viewModel();
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
        QTRY_VERIFY(storyButton->findChild<StoryButtonModel *>()->isReady()); // the demo song has a story
        QVERIFY(pointAndClick(window, storyButton));
        QTRY_VERIFY(vm->isStoryModalOpen());
        QTest::qWait(600);
        QVERIFY(screenshot(window, screenshots, QStringLiteral("story")));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!vm->isStoryModalOpen());

        // A lit card's share control opens the window's share sheet.
        QTRY_VERIFY(litRow(window));
        QObject *sheet = window->findChild<QObject *>(QStringLiteral("shareSheet"));
        QVERIFY(sheet);
        QVERIFY(pointAndClick(window, firstVisible(litRow(window), QStringLiteral("glassCard.share"))));
        QTRY_VERIFY(sheet->property("opened").toBool());
        QTest::qWait(400);
        QVERIFY(screenshot(window, screenshots, QStringLiteral("share")));
        // A toast floats above the open sheet.
        app.appState()->toastCenter()->show(QStringLiteral("已复制 / Copied"), 1.5);
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

        m_playback.stopPlayer();
    }
};

CANTORELLA_APP_TEST_MAIN(TestWindow)

#include "tst_window_xvfb.moc"
