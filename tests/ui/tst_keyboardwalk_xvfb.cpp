// The real main window driven by the keyboard alone, on the OpenGL renderer (xvfb-run, xcb): Tab
// and Shift+Tab walk every control of the sign-in view, the player (lyrics panel, study panel),
// the story overlay, the share sheet, the account popover and the settings window in reading
// order; each focus is announced to assistive technologies on the control itself, with its name
// and role; the focused control draws its focus ring (the window's pixels change there, the ring's
// white stands at least 3:1 against what surrounds it) and a click draws none; Space and Return
// press the focused control; Escape closes the topmost popup and hands the focus back to the
// control that opened it. Screenshots of each view with a focused control, at 800 × 950 and
// 680 × 800, go to build/screenshots/keyboard/.

#include "PrivateSessionBus.h"
#include "ShellFixture.h"
#include "KeyboardWalkProbes.h"
#include "SkippableClock.h"

#include "app/AppState.h"
#include "app/ApplicationShell.h"
#include "core/store/CardStore.h"
#include "session/player/PlayerViewModel.h"

#include <QAccessible>
#include <QApplication>
#include <QColor>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QJsonObject>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <chrono>
#include <cmath>

using namespace KeyboardWalk;

class TestKeyboardWalk : public QObject
{
    Q_OBJECT

    // Presses Tab (or Shift+Tab) `count` times and returns the names focused after each press,
    // checking on the way that each focused control draws its ring, within its bounds' pixels.
    QStringList walk(QQuickWindow *window, int count, bool backwards = false)
    {
        QStringList names;
        for (int i = 0; i < count; ++i) {
            const QString before = focusedName(window);
            QTest::keyClick(window, Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
            if (!QTest::qWaitFor([&] { return focusedName(window) != before; }, 5000))
                break;
            names << focusedName(window);
            if (const QString fault = announcementFault(window); !fault.isEmpty())
                m_faults << names.last() + QStringLiteral(": ") + fault;
            QQuickItem *ring = ringOf(window->activeFocusItem());
            if (!ring) {
                m_faults << names.last() + QStringLiteral(": no focus ring");
                continue;
            }
            if (!QTest::qWaitFor([&] { return ring->isVisible(); }, 2000))
                m_faults << names.last() + QStringLiteral(": focus ring not shown");
        }
        return names;
    }

    // The focused control's ring is drawn: its pixels differ from the same place once focus has
    // moved on, and its band stands at least 3:1 against the pixels around it (white, or greyed
    // with a dimmed card).
    void checkRingDrawn(QQuickWindow *window)
    {
        QQuickItem *control = window->activeFocusItem();
        QVERIFY(control);
        QQuickItem *ring = ringOf(control);
        QVERIFY2(ring && ring->isVisible(), qPrintable(focusedName(window)));
        const qreal dpr = window->effectiveDevicePixelRatio();
        const QRectF area = ring->mapRectToScene(QRectF(-2, -2, ring->width() + 4, ring->height() + 4));
        QTest::qWait(50); // a frame with the ring
        const QImage focused = window->grabWindow();
        const RingSample sample = sampleRing(focused, ring, dpr);
        QVERIFY2(sample.contrast() >= 3.0, qPrintable(focusedName(window) + u' ' + sample.describe()));
        // Tab moves on (or, the window's one control, lets go): the ring goes, the pixels there
        // change; Shift+Tab comes back.
        const QString name = focusedName(window);
        QTest::keyClick(window, Qt::Key_Tab);
        const bool alone = !QTest::qWaitFor([&] { return window->activeFocusItem() != control; }, 1000);
        if (alone)
            control->setFocus(false);
        QTRY_VERIFY(!ring->isVisible());
        QTest::qWait(50);
        const QImage unfocused = window->grabWindow();
        const int perimeter = int(2 * (ring->width() + ring->height()));
        QVERIFY2(changedPixels(focused, unfocused, area, dpr) >= perimeter,
                 qPrintable(name + QStringLiteral(": %1 pixels changed").arg(changedPixels(focused, unfocused, area, dpr))));
        if (alone)
            control->forceActiveFocus(Qt::TabFocusReason);
        else
            QTest::keyClick(window, Qt::Key_Tab, Qt::ShiftModifier);
        QTRY_COMPARE(window->activeFocusItem(), control);
        QTRY_VERIFY(ring->isVisible());
    }

    // Each control in turn takes the focus from the keyboard and draws its ring.
    void checkRings(QQuickWindow *window, const QStringList &names)
    {
        for (const QString &name : names) {
            QVERIFY2(tabTo(window, name), qPrintable(name));
            checkRingDrawn(window);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Tabs until `name` has the focus (at most `limit` presses).
    bool tabTo(QQuickWindow *window, const QString &name, int limit = 60)
    {
        for (int i = 0; i < limit && focusedName(window) != name; ++i) {
            const QString before = focusedName(window);
            QTest::keyClick(window, Qt::Key_Tab);
            // The press may leave the focus where it is (the same control again): press on.
            (void)QTest::qWaitFor([&] { return focusedName(window) != before; }, 2000);
        }
        return focusedName(window) == name;
    }

    // Whether the demo song's player shows in the active main window, with its lyrics, at least
    // `cards` cards and their buttons.
    static bool playerShown(DemoSongShell &demo, int cards = 1)
    {
        PlayerViewModel *vm = demo.vm();
        return demo.window && QTest::qWaitForWindowActive(demo.window) && QTest::qWaitFor([&] {
            return vm->cards().size() >= cards && !vm->lyricLines().isEmpty()
                   && visibleItem(demo.window->contentItem(), QStringLiteral("glassCard.mastered"));
        }, 10000);
    }

    // Each control (first) in turn takes the focus from the keyboard, and the window is saved
    // with it at both sizes under the name (second).
    void shootFocused(QQuickWindow *window, const QList<std::pair<QString, QString>> &shots)
    {
        for (const auto &[control, name] : shots) {
            QVERIFY2(tabTo(window, control), qPrintable(control));
            shootBothSizes(window, name);
            if (QTest::currentTestFailed())
                return;
        }
    }

    void shootBothSizes(QQuickWindow *window, const QString &name)
    {
        for (const QSize size : {QSize(800, 950), QSize(680, 800)}) {
            window->resize(size);
            QTRY_COMPARE(window->size(), size);
            QTest::qWait(200); // the layout settles
            // The focused control back in view in the new layout, as the next Tab would bring it.
            if (QQuickItem *ring = window->activeFocusItem() ? ringOf(window->activeFocusItem()) : nullptr)
                QMetaObject::invokeMethod(ring, "revealControl");
            QTest::qWait(200); // a frame renders
            QVERIFY(saveShot(window, name));
        }
        window->resize(800, 950);
        QTRY_COMPARE(window->size(), QSize(800, 950));
    }

    QStringList m_faults;

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "run on an X display (support/on-own-display.sh)");
        // As with a screen reader running: the accessibility bus is up, so the window sends its
        // focus events (which come to the test).
        QVERIFY2(QTest::qWaitFor([] { return QAccessible::isActive(); }, 10000), "no accessibility bus");
        // A still window: the ambient animations would change pixels between two pictures.
        qputenv("CANTORELLA_REDUCE_MOTION", "1");
    }

    void init()
    {
        m_faults.clear();
        focusEvents().clear();
    }

    void signIn()
    {
        ShellFixture fx;
        fx.startAuth();
        ApplicationShell shell(fx.dependencies());
        QQuickWindow *window = shell.mainWindow();
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_VERIFY(visibleItem(window->contentItem(), QStringLiteral("signIn.submit")));

        // Reading order, round and back.
        const QStringList order{QStringLiteral("signIn.email"), QStringLiteral("signIn.password"),
                                QStringLiteral("signIn.submit"), QStringLiteral("signIn.modeSwitch")};
        // The new view takes the focus on its first field, ringed (a text field shows any focus).
        QCOMPARE(focusFault(window, order.first()), QString());
        QCOMPARE(walk(window, 5), order.mid(1) + order.mid(0, 2));
        QCOMPARE(walk(window, 4, true), (QStringList{order.at(0), order.at(3), order.at(2), order.at(1)}));
        QVERIFY2(m_faults.isEmpty(), qPrintable(m_faults.join(u'\n')));

        // The ring on a text field and on each kind of button.
        checkRings(window, order);
        if (QTest::currentTestFailed())
            return;
        shootFocused(window, {{QStringLiteral("signIn.submit"), QStringLiteral("signin-submit")},
                              {QStringLiteral("signIn.password"), QStringLiteral("signin-password")}});
        if (QTest::currentTestFailed())
            return;

        // Return presses the focused button only: the mode switch changes the heading.
        QVERIFY(tabTo(window, QStringLiteral("signIn.modeSwitch")));
        QQuickItem *heading = visibleItem(window->contentItem(), QStringLiteral("signIn.heading"));
        const QString signInHeading = heading->property("text").toString();
        QTest::keyClick(window, Qt::Key_Return);
        QTRY_VERIFY(heading->property("text").toString() != signInHeading);
        QCOMPARE(focusedName(window), QStringLiteral("signIn.modeSwitch"));

        // A click focuses a button without a ring.
        QVERIFY(tabTo(window, QStringLiteral("signIn.email")));
        QQuickItem *modeSwitch = visibleItem(window->contentItem(), QStringLiteral("signIn.modeSwitch"));
        QTest::mouseClick(window, Qt::LeftButton, {},
                          modeSwitch->mapToScene(QPointF(modeSwitch->width() / 2, modeSwitch->height() / 2)).toPoint());
        QTRY_VERIFY(heading->property("text").toString() == signInHeading);
        QTRY_COMPARE(window->activeFocusItem(), modeSwitch);
        QVERIFY(!ringOf(modeSwitch)->isVisible());
    }

    void player()
    {
        DemoSongShell demo;
        QVERIFY(playerShown(demo));
        QQuickWindow *window = demo.window;
        PlayerViewModel *vm = demo.vm();
        QTRY_VERIFY_WITH_TIMEOUT(vm->currentStory().has_value(), 10000);
        QTRY_VERIFY(visibleItem(window->contentItem(), QStringLiteral("storyButton")));

        // The lyrics panel top to bottom, then the study panel's tabs, its song heart and the
        // first card's buttons.
        const QStringList head{QStringLiteral("userInfoIcon"),      QStringLiteral("storyButton"),
                               QStringLiteral("offsetSlider.slider"), QStringLiteral("segment.Now"),
                               QStringLiteral("segment.History"),   QStringLiteral("segment.Favorites"),
                               QStringLiteral("segment.Mastered"),  QStringLiteral("studyPanel.songFavorite"),
                               QStringLiteral("glassCard.share"),   QStringLiteral("glassCard.heart"),
                               QStringLiteral("glassCard.mastered")};
        // The player took the focus on its first control at the time (the tabs, before the
        // song's header came): the walk goes on from there.
        const QStringList forward = walk(window, 80);
        const int start = int(forward.indexOf(head.first()));
        QVERIFY2(start >= 0 && forward.mid(start, head.size()) == head, qPrintable(forward.join(u' ')));
        // Every card's buttons, and round to the account button again.
        const int round = int(forward.indexOf(head.first(), start + 1));
        QVERIFY2(round > start, qPrintable(forward.join(u' ')));
        const int cards = int(forward.mid(start, round - start).count(QStringLiteral("glassCard.mastered")));
        QVERIFY2(cards >= 2, qPrintable(forward.join(u' ')));
        QVERIFY2(m_faults.isEmpty(), qPrintable(m_faults.join(u'\n')));
        // Shift+Tab walks the same way back.
        QVERIFY(tabTo(window, QStringLiteral("segment.History")));
        QCOMPARE(walk(window, 4, true), (QStringList{QStringLiteral("segment.Now"), QStringLiteral("offsetSlider.slider"),
                                                    QStringLiteral("storyButton"), QStringLiteral("userInfoIcon")}));

        checkRings(window, {QStringLiteral("userInfoIcon"), QStringLiteral("storyButton"),
                            QStringLiteral("offsetSlider.slider"), QStringLiteral("segment.History"),
                            QStringLiteral("studyPanel.songFavorite"), QStringLiteral("glassCard.share"),
                            QStringLiteral("glassCard.mastered")});
        if (QTest::currentTestFailed())
            return;
        shootFocused(window, {{QStringLiteral("segment.History"), QStringLiteral("player-tab")},
                              {QStringLiteral("glassCard.mastered"), QStringLiteral("player-card")},
                              {QStringLiteral("offsetSlider.slider"), QStringLiteral("player-slider")},
                              {QStringLiteral("userInfoIcon"), QStringLiteral("player-account-button")},
                              {QStringLiteral("storyButton"), QStringLiteral("player-story-button")}});
        if (QTest::currentTestFailed())
            return;

        // Space presses the focused control only: the song's heart.
        CardStore *store = demo.shell.appState()->cardStore();
        SongRecord *song = store->record(QStringLiteral("traditional|amazing grace"));
        QVERIFY(song);
        const bool favourite = song->isFavorite();
        QVERIFY(tabTo(window, QStringLiteral("studyPanel.songFavorite")));
        QTest::keyClick(window, Qt::Key_Space);
        QTRY_COMPARE(song->isFavorite(), !favourite);
        QCOMPARE(focusedName(window), QStringLiteral("studyPanel.songFavorite"));

        // The story: Return opens it, Tab reaches its button, Escape closes it and the story
        // button has the focus (and its ring) again.
        QVERIFY(tabTo(window, QStringLiteral("storyButton")));
        QTest::keyClick(window, Qt::Key_Return);
        QTRY_VERIFY(vm->isStoryModalOpen());
        // The story takes the focus, announced by its title; its button is the one Tab stop.
        QTRY_COMPARE(focusedName(window), QStringLiteral("storyOverlay.card"));
        QCOMPARE(announcementFault(window, QAccessible::Grouping), QString());
        QCOMPARE(walk(window, 1), QStringList{QStringLiteral("storyOverlay.dismiss")});
        QTest::qWait(400); // the overlay's entrance
        shootBothSizes(window, QStringLiteral("story"));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!vm->isStoryModalOpen());
        QTRY_COMPARE(focusedName(window), QStringLiteral("storyButton"));
        QTRY_VERIFY(ringOf(window->activeFocusItem())->isVisible());

        // The share sheet from a card's share button: its controls in order, round.
        QObject *sheet = window->findChild<QObject *>(QStringLiteral("shareSheet"));
        QVERIFY(tabTo(window, QStringLiteral("glassCard.share")));
        QQuickItem *opener = window->activeFocusItem();
        QTest::keyClick(window, Qt::Key_Space);
        QTRY_VERIFY(sheet->property("opened").toBool());
        // The sheet's first action takes the focus, announced and ringed.
        QTRY_COMPARE(focusedName(window), QStringLiteral("shareSheet.copy"));
        QCOMPARE(announcementFault(window), QString());
        QCOMPARE(walk(window, 5), (QStringList{QStringLiteral("shareSheet.save"), QStringLiteral("shareSheet.share"),
                                               QStringLiteral("shareSheet.close"), QStringLiteral("shareSheet.copy"),
                                               QStringLiteral("shareSheet.save")}));
        QVERIFY(tabTo(window, QStringLiteral("shareSheet.copy")));
        checkRingDrawn(window);
        shootBothSizes(window, QStringLiteral("share"));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!sheet->property("visible").toBool());
        QTRY_COMPARE(window->activeFocusItem(), opener);

        // The account popover: Space opens it, Tab reaches its commands, Escape closes it.
        QObject *popover = window->findChild<QObject *>(QStringLiteral("userInfoPopover"));
        QVERIFY(tabTo(window, QStringLiteral("userInfoIcon")));
        QTest::keyClick(window, Qt::Key_Space);
        QTRY_VERIFY(popover->property("opened").toBool());
        QTRY_COMPARE(focusedName(window), QStringLiteral("userInfo.backup"));
        QCOMPARE(announcementFault(window), QString());
        QCOMPARE(walk(window, 3), (QStringList{QStringLiteral("userInfo.restore"), QStringLiteral("userInfo.signOut"),
                                               QStringLiteral("userInfo.backup")}));
        QVERIFY(tabTo(window, QStringLiteral("userInfo.backup"), 5));
        shootBothSizes(window, QStringLiteral("account"));
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY(!popover->property("visible").toBool());
        QTRY_COMPARE(focusedName(window), QStringLiteral("userInfoIcon"));
        QVERIFY2(m_faults.isEmpty(), qPrintable(m_faults.join(u'\n')));

        // The settings window: its command takes the focus ring too.
        QQuickWindow *settings = demo.shell.settingsWindow();
        // A dialog of the main window, which a window manager places over it.
        QCOMPARE(settings->transientParent(), window);
        QVERIFY(settings->flags().testFlag(Qt::Dialog));
        QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
        QTRY_VERIFY(settings->isVisible());
        QTRY_COMPARE(QGuiApplication::focusWindow(), settings);
        QVERIFY(tabTo(settings, QStringLiteral("settings.signOut"), 5));
        checkRingDrawn(settings);
        QDir().mkpath(screenshots);
        QVERIFY(settings->grabWindow().save(QDir(screenshots).filePath(QStringLiteral("settings.png"))));
        QTest::keyClick(settings, Qt::Key_Escape);
        QTRY_VERIFY(!settings->isVisible());
    }

    // The lyrics error's texts stand at least 4.5 : 1 against what the window draws behind them
    // (their colour blended over each pixel of their place, with the texts hidden), measured as
    // the ring's contrast is.
    void lyricsErrorContrast_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("heading") << QStringLiteral("lyricsArea.failureTitle");
        QTest::newRow("detail") << QStringLiteral("lyricsArea.failureDetail");
    }
    void lyricsErrorContrast()
    {
        QFETCH(QString, text);
        DemoSongShell demo([](ShellFixture &fx, AppStateDependencies &) {
            fx.server.setReply(QStringLiteral("/api/track"), HttpFake::Reply::json(500, QJsonObject()));
        });
        QQuickWindow *window = demo.window;
        QVERIFY(window);
        QTRY_VERIFY_WITH_TIMEOUT(visibleItem(window->contentItem(), QStringLiteral("lyricsArea.failure")), 20000);
        QQuickItem *failure = visibleItem(window->contentItem(), QStringLiteral("lyricsArea.failure"));
        QTRY_VERIFY(failure->opacity() == 1.0);
        QTest::qWait(500); // the cross-fade into the state
        QQuickItem *label = visibleItem(failure, text);
        QVERIFY(label);

        const qreal dpr = window->effectiveDevicePixelRatio();
        // The painted lines: the text's width about its alignment, its height from the top.
        const double width = std::min(label->width(), label->property("contentWidth").toDouble());
        const QRectF painted((label->width() - width) / 2, 0, width, label->property("contentHeight").toDouble());
        const QRect area = QRectF(label->mapRectToScene(painted).topLeft() * dpr, painted.size() * dpr).toAlignedRect();
        for (QQuickItem *t : failure->childItems())
            t->setOpacity(t->inherits("QQuickText") ? 0 : 1);
        QTest::qWait(100); // a frame without the texts
        const QImage behind = window->grabWindow();
        for (QQuickItem *t : failure->childItems())
            t->setOpacity(1);
        const QColor colour = label->property("color").value<QColor>();
        double worst = 1e9;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor b = behind.pixelColor(x, y);
                const double a = colour.alphaF();
                const QRgb blended = qRgb(int(a * colour.red() + (1 - a) * b.red()),
                                          int(a * colour.green() + (1 - a) * b.green()),
                                          int(a * colour.blue() + (1 - a) * b.blue()));
                worst = std::min(worst, contrast(blended, b.rgb()));
            }
        }
        qInfo().noquote() << text << "worst contrast" << QString::number(worst, 'f', 2);
        QVERIFY2(worst >= 4.5, qPrintable(QStringLiteral("%1 : 1").arg(worst)));
        shootBothSizes(window, QStringLiteral("lyrics-error"));
    }

    // Where the view changes under the keyboard's focus, the focus stays on a control the user
    // sees, announced and ringed: one row per way the view changes. A control that hides itself
    // when pressed (`hiding`, reached by the row's own steps) hands the focus to `next` (any other
    // control when empty).
    void focusWhereTheViewChanges_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("hiding");
        QTest::addColumn<QString>("next");
        const QString none;
        QTest::newRow("the Now list's return to the lit card") << QStringLiteral("listReturn") << none << none;
        QTest::newRow("a key for a card button scrolled out of sight") << QStringLiteral("outOfSight") << none << none;
        QTest::newRow("sign-out in the settings, then sign-in") << QStringLiteral("signOutSignIn") << none << none;
        QTest::newRow("Return on a History row; 返回当前播放歌曲 hides itself")
            << QStringLiteral("returnChip") << QStringLiteral("now.returnChip") << QStringLiteral("studyPanel.songFavorite");
        QTest::newRow("重置 hides itself") << QStringLiteral("resetOffset") << QStringLiteral("offsetSlider.reset")
                                         << QStringLiteral("offsetSlider.slider");
        QTest::newRow("回到当前 hides itself") << QStringLiteral("backToCurrent") << QStringLiteral("now.backToCurrent") << none;
        QTest::newRow("回到当前 held while focused, then pressed")
            << QStringLiteral("chipHeld") << QStringLiteral("now.backToCurrent") << none;
        QTest::newRow("清除搜索 with no match") << QStringLiteral("clearNoMatch") << QStringLiteral("history.clear") << none;
        QTest::newRow("a song change with a card button focused") << QStringLiteral("songChange") << none << none;
        QTest::newRow("重试 on the lyrics error, failing again")
            << QStringLiteral("retryLyrics") << QStringLiteral("lyricsArea.retry") << QStringLiteral("lyricsArea.failureTitle");
    }
    void focusWhereTheViewChanges()
    {
        using namespace std::chrono_literals;
        QFETCH(QString, change);
        QFETCH(QString, hiding);
        QFETCH(QString, next);
        SkippableClock clock;
        // Paused at 0:19: the second card is lit.
        NowPlayingTrack track = demoSongTrack(19);
        track.isPlaying = false;
        DemoSongShell demo([&](ShellFixture &fx, AppStateDependencies &deps) {
            fx.server.auth().addUser(QStringLiteral("a@example.com"), QStringLiteral("secret1"));
            if (change == u"retryLyrics")
                fx.server.setReply(QStringLiteral("/api/track"), HttpFake::Reply::json(500, QJsonObject()));
            deps.continuousClock = &clock;
        }, track);
        QQuickWindow *window = demo.window;
        if (change == u"retryLyrics") {
            // The song has no lyrics (the server fails). 重试, pressed, hides while the lyrics
            // are fetched again (the server silent now): the focus goes on to a control of the
            // lyrics panel. The fetch's time limit passes on the app's clock and the failure comes
            // back, announced on its heading; Tab goes on to 重试.
            QVERIFY(window && QTest::qWaitForWindowActive(window));
            QTRY_VERIFY_WITH_TIMEOUT(visibleItem(window->contentItem(), hiding), 20000);
            demo.fx.server.setReply(QStringLiteral("/api/track"), HttpFake::Reply::neverAnswer());
            QVERIFY(tabTo(window, hiding));
            QCOMPARE(focusFault(window, hiding), QString());
            QQuickItem *panel = visibleItem(window->contentItem(), QStringLiteral("mainView.lyricsPanel"));
            const int asked = demo.fx.server.count(QStringLiteral("/api/track"));
            QTest::keyClick(window, Qt::Key_Space);
            QTRY_VERIFY(visibleItem(window->contentItem(), QStringLiteral("lyricsArea.fetching")));
            QVERIFY(ringedFocus(window));
            QCOMPARE(focusFault(window), QString());
            QVERIFY2(panel->isAncestorOf(window->activeFocusItem()) && focusedName(window) != u"userInfoIcon",
                     qPrintable(focusedName(window)));
            // The request is out (its time limit running): the limit passes.
            QTRY_VERIFY(demo.fx.server.count(QStringLiteral("/api/track")) > asked);
            clock.skip(11s);
            QTRY_VERIFY(clock.caughtUp());
            QCOMPARE(focusFault(window, next), QString());
            QCOMPARE(QAccessible::queryAccessibleInterface(window->activeFocusItem())->role(), QAccessible::AlertMessage);
            QCOMPARE(walk(window, 1), QStringList{hiding});
            QVERIFY2(m_faults.isEmpty(), qPrintable(m_faults.join(u'\n')));
            shootBothSizes(window, QStringLiteral("focus-") + change);
            return;
        }
        QVERIFY(playerShown(demo, 3));
        QQuickItem *now = visibleItem(window->contentItem(), QStringLiteral("studyPanel.now"));
        QVERIFY(now);
        QObject *ctl = now->property("controller").value<QObject *>();
        QQuickItem *list = visibleItem(now, QStringLiteral("now.list"));
        QTRY_VERIFY(!ctl->property("activeSlotId").toString().isEmpty());
        QObject *tabs = visibleItem(window->contentItem(), QStringLiteral("studyPanel"))->property("controller").value<QObject *>();
        QObject *sheet = window->findChild<QObject *>(QStringLiteral("shareSheet"));
        auto tracking = [ctl] { return ctl->property("isTrackingCards").toBool(); };

        if (change == u"listReturn") {
            // The first card's share button, above the lit card: the list holds still while it
            // has the focus, its return waiting as after the user's own scroll; Space shares the
            // card the user sees. Once the focus has left, the list returns.
            QVERIFY(tabTo(window, QStringLiteral("glassCard.share")));
            QQuickItem *share = window->activeFocusItem();
            QCOMPARE(focusFault(window), QString());
            QTRY_VERIFY(!tracking());
            const QString lit = ctl->property("activeSlotId").toString();
            // The return would come 3 s after the user's scroll: it does not come while held.
            clock.skip(4s);
            QTRY_VERIFY(clock.caughtUp());
            QVERIFY(!tracking());
            QCOMPARE(window->activeFocusItem(), share);
            QCOMPARE(focusFault(window), QString());
            QTest::keyClick(window, Qt::Key_Space);
            QTRY_VERIFY(sheet->property("opened").toBool());
            QTest::keyClick(window, Qt::Key_Escape);
            QTRY_COMPARE(window->activeFocusItem(), share);
            QVERIFY(tabTo(window, QStringLiteral("userInfoIcon")));
            QTRY_VERIFY_WITH_TIMEOUT((clock.skip(1s), tracking()), 5000);
            QTRY_VERIFY(showing(visibleItem(list, QStringLiteral("now.row.") + lit)));
        } else if (change == u"outOfSight") {
            // The view moves on its own while a card button has the focus: the next key brings
            // the button back into sight, ringed, and presses nothing.
            QVERIFY(tabTo(window, QStringLiteral("glassCard.share")));
            QQuickItem *share = window->activeFocusItem();
            list->setProperty("contentY", list->property("contentHeight").toDouble() - list->height());
            QTRY_VERIFY(!showing(share));
            QTest::keyClick(window, Qt::Key_Space);
            QTRY_VERIFY(showing(share));
            QVERIFY(!sheet->property("visible").toBool());
            QCOMPARE(focusFault(window, QStringLiteral("glassCard.share")), QString());
            QTest::keyClick(window, Qt::Key_Space);
            QTRY_VERIFY(sheet->property("opened").toBool());
        } else if (change == u"signOutSignIn") {
            // Signed out from the settings window, whose one control turns disabled: the main
            // window's sign-in view takes the focus on its first field. Signed in again, the
            // player takes it on its first control; the closed settings window takes none.
            QQuickWindow *settings = demo.shell.settingsWindow();
            QTest::keyClick(window, Qt::Key_Comma, Qt::ControlModifier);
            QTRY_COMPARE(QGuiApplication::focusWindow(), settings);
            QVERIFY(tabTo(settings, QStringLiteral("settings.signOut"), 5));
            QQuickItem *signOut = settings->activeFocusItem();
            QTest::keyClick(settings, Qt::Key_Space);
            QTRY_COMPARE(QGuiApplication::focusWindow(), window);
            QCOMPARE(focusFault(window, QStringLiteral("signIn.email")), QString());
            settings->close(); // by its title bar's button
            QTRY_VERIFY(!settings->isVisible());
            for (const char c : QByteArrayLiteral("a@example.com"))
                QTest::keyClick(window, c);
            QTest::keyClick(window, Qt::Key_Tab);
            for (const char c : QByteArrayLiteral("secret1"))
                QTest::keyClick(window, c);
            QVERIFY(tabTo(window, QStringLiteral("signIn.submit"), 3));
            QTest::keyClick(window, Qt::Key_Space);
            QTRY_VERIFY_WITH_TIMEOUT(visibleItem(window->contentItem(), QStringLiteral("playerView")), 10000);
            QCOMPARE(focusFault(window), QString());
            QTRY_VERIFY(signOut->isEnabled());
            QVERIFY(!signOut->hasActiveFocus());
        } else if (change == u"returnChip") {
            // Return on a tab shows that tab; the song's row comes after the search field, and
            // Return picks it, as a tap does: the Now tab shows it, locked, and takes the focus on
            // its first control, the return chip.
            QVERIFY(tabTo(window, QStringLiteral("segment.History")));
            QTest::keyClick(window, Qt::Key_Return);
            QTRY_COMPARE(tabs->property("selectedTab").toInt(), 1);
            QTRY_VERIFY(visibleItem(window->contentItem(), QStringLiteral("history.search")));
            QVERIFY(tabTo(window, QStringLiteral("history.search")));
            shootBothSizes(window, QStringLiteral("history-search"));
            QTest::keyClick(window, Qt::Key_Tab);
            QTRY_VERIFY(focusedName(window).startsWith(QStringLiteral("SongRow")));
            QVERIFY(ringOf(window->activeFocusItem())->isVisible());
            shootBothSizes(window, QStringLiteral("history-row"));
            QTest::keyClick(window, Qt::Key_Return);
            QTRY_COMPARE(tabs->property("selectedTab").toInt(), 0);
            QTRY_VERIFY(tabs->property("lockedSong").value<QObject *>());
        } else if (change == u"resetOffset") {
            // The song's own offset from the slider's keys shows 重置, just before the slider.
            QVERIFY(tabTo(window, QStringLiteral("offsetSlider.slider")));
            QTest::keyClick(window, Qt::Key_Right);
            QTRY_VERIFY(visibleItem(window->contentItem(), QStringLiteral("offsetSlider.reset")));
            QTest::keyClick(window, Qt::Key_Tab, Qt::ShiftModifier);
        } else if (change == u"chipHeld") {
            // A card's button holds the list and offers 回到当前, the list's last stop. With the
            // focus on the chip the list holds on: past the 3 s return, the chip and its focus stay.
            QVERIFY(tabTo(window, QStringLiteral("glassCard.share")));
            QTRY_VERIFY(!tracking());
            QStringList stops;
            for (int i = 0; i < 80 && focusedName(window) != hiding; ++i)
                stops << walk(window, 1);
            QVERIFY2(focusedName(window) == hiding, qPrintable(stops.join(u' ')));
            clock.skip(4s);
            QTRY_VERIFY(clock.caughtUp());
            QVERIFY(!tracking());
            QVERIFY(visibleItem(window->contentItem(), hiding));
        } else if (change == u"clearNoMatch") {
            // A search nothing matches: 清除搜索 is the History tab's last control.
            QVERIFY(tabTo(window, QStringLiteral("segment.History")));
            QTest::keyClick(window, Qt::Key_Return);
            QTRY_VERIFY(visibleItem(window->contentItem(), QStringLiteral("history.search")));
            QVERIFY(tabTo(window, QStringLiteral("history.search")));
            for (int i = 0; i < 3; ++i)
                QTest::keyClick(window, 'z');
            QTRY_VERIFY(visibleItem(window->contentItem(), QStringLiteral("history.empty")));
            QVERIFY(tabTo(window, hiding, 3));
        } else if (change == u"songChange") {
            // The next song comes while a card's button has the focus: its rows go, and the focus
            // lands on a control of the study panel that shows, not at the window's top.
            QVERIFY(tabTo(window, QStringLiteral("glassCard.share")));
            QPointer<QQuickItem> share = window->activeFocusItem();
            NowPlayingTrack nextSong = demoSongTrack(0);
            nextSong.title = QStringLiteral("Row, Row, Row Your Boat");
            demo.fx.sources->latest.send(nextSong);
            QTRY_VERIFY(!share || !share->isVisible());
            QVERIFY(ringedFocus(window));
            QCOMPARE(focusFault(window), QString());
            QQuickItem *panel = visibleItem(window->contentItem(), QStringLiteral("studyPanel"));
            QVERIFY2(panel->isAncestorOf(window->activeFocusItem()), qPrintable(focusedName(window)));
        } else if (change == u"backToCurrent") {
            // Scrolled away by the user, the list offers 回到当前.
            // Nudged until the list takes it for the user's (past the guard of its own scrolls).
            const double top = list->property("contentY").toDouble();
            int nudge = 0;
            QTRY_VERIFY_WITH_TIMEOUT((list->setProperty("contentY", top + 80 + 40 * (++nudge % 2)),
                                      ctl->property("showBackToCurrent").toBool()), 5000);
            QTRY_VERIFY(visibleItem(window->contentItem(), QStringLiteral("now.backToCurrent")));
            QVERIFY(tabTo(window, QStringLiteral("now.backToCurrent")));
        }

        if (!hiding.isEmpty()) {
            QCOMPARE(focusFault(window, hiding), QString());
            // The pane the control is in, which keeps the focus.
            QQuickItem *pane = window->activeFocusItem();
            while (pane && pane->objectName() != u"studyPanel" && pane->objectName() != u"mainView.lyricsPanel")
                pane = pane->parentItem();
            QVERIFY(pane);
            if (change == u"returnChip")
                shootBothSizes(window, QStringLiteral("focus-historyRow"));
            QTest::keyClick(window, Qt::Key_Space);
            QTRY_VERIFY(!visibleItem(window->contentItem(), hiding));
            QVERIFY(ringedFocus(window));
            QCOMPARE(focusFault(window, next), QString());
            QVERIFY(focusedName(window) != hiding);
            // Near where it was: in the same pane, never the window's first control.
            QVERIFY2(pane->isAncestorOf(window->activeFocusItem()), qPrintable(focusedName(window)));
            // What the press did: the playing song's cards back, the list following again.
            if (change == u"returnChip") {
                QTRY_VERIFY(!tabs->property("lockedSong").value<QObject *>());
                QTRY_VERIFY(visibleItem(window->contentItem(), QStringLiteral("glassCard.mastered")));
            } else if (change == u"backToCurrent" || change == u"chipHeld") {
                QTRY_VERIFY(tracking());
            }
        }
        QVERIFY2(m_faults.isEmpty(), qPrintable(m_faults.join(u'\n')));
        shootBothSizes(window, QStringLiteral("focus-") + change);
    }
};

int main(int argc, char *argv[])
{
    ApplicationShell::prepareProcess();
    // A session bus of the test's own with an accessibility bus on it, before the application
    // looks for one; the accessibility bus ends with the session bus.
    int result = 1;
    {
        PrivateSessionBus bus;
        if (!bus.isRunning())
            return 1;
        bus.exportToEnvironment();
        QProcess launcher;
        launcher.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"), {QStringLiteral("--launch-immediately")});
        QDBusConnection probe = bus.connect(QStringLiteral("a11yProbe"));
        if (!launcher.waitForStarted(5000)
            || !QTest::qWaitFor([&] { return probe.interface()->isServiceRegistered(QStringLiteral("org.a11y.Bus")); }, 10000))
            return 1;
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        {
            QApplication app(argc, argv);
            QAccessible::installUpdateHandler(&recordFocusEvent);
            TestKeyboardWalk test;
            result = QTest::qExec(&test, argc, argv);
        }
        // The launcher leaves when its session bus does; stopped here if it has not.
        launcher.terminate();
        if (!launcher.waitForFinished(5000))
            launcher.kill();
    }
    return result;
}

#include "tst_keyboardwalk_xvfb.moc"
