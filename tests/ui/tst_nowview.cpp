// The Now tab's controller on hand-driven clocks with the real view model, lighting coordinator
// and a temporary store: the wrap-up's timing, the lit, dimmed and approaching rows, manual
// lighting, the newly-mastered count, song restarts, the user-scroll wiring, the panel states and
// store objects deleted under the tab.

#include "tst_nowfixture.h"

#include "ui/player/InterPanelHueEchoDriver.h"
#include "ui/player/LyricsViewController.h"
#include "ui/player/NowViewController.h"
#include "ui/design/FrameClock.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>

using namespace std::chrono_literals;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Tab
{
    NowWorld &world;
    std::unique_ptr<NowViewController> ctl = std::make_unique<NowViewController>();

    explicit Tab(NowWorld &w, SongRecord *locked = nullptr) : world(w)
    {
        ctl->setVm(&w.vm);
        ctl->setCardStore(w.store.get());
        ctl->setCardLighting(&w.lighting);
        ctl->setClocks(&w.clocks);
        ctl->setLockedSong(locked);
        ctl->componentComplete();
        ctl->setViewportHeight(600);
        NowWorld::settle();
    }
    // The tab's pending sleeps end (cancelled) while the world's clock still exists.
    ~Tab()
    {
        ctl.reset();
        NowWorld::settle();
    }
    NowViewController *operator->() const { return ctl.get(); }

    const CardSlotRowsModel::Row &row(int i) const { return ctl->rows()->rows().at(i); }
    QString slotOf(int cardIndex) const { return QStringLiteral("card%1|t#1/1").arg(cardIndex); }
};

} // namespace

// The hue echo's driver on a world's view model and a frame clock on its manual clock.
struct EchoRig
{
    NowWorld w;
    FrameClock frames{&w.clock};
    InterPanelHueEchoDriver echo;
    EchoRig()
    {
        echo.setProperty("vm", QVariant::fromValue(&w.vm));
        echo.setFrameClock(&frames);
    }
};

class TestNowView : public QObject
{
    Q_OBJECT

private slots:
    void wrapUpInTheLastFiveSeconds_data()
    {
        QTest::addColumn<double>("duration");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<double>("position");
        QTest::addColumn<bool>("shown");
        // The last line is at 150 s: the card appears although no line starts near the end.
        QTest::newRow("200 s song at 194.9") << 200.0 << false << 194.9 << false;
        QTest::newRow("200 s song at 195.0") << 200.0 << false << 195.0 << true;
        QTest::newRow("200 s song at 199.5") << 200.0 << false << 199.5 << true;
        QTest::newRow("no duration") << 0.0 << false << 199.0 << false;
        QTest::newRow("locked song") << 200.0 << true << 199.0 << false;
    }
    void wrapUpInTheLastFiveSeconds()
    {
        QFETCH(double, duration);
        QFETCH(bool, locked);
        QFETCH(double, position);
        QFETCH(bool, shown);
        NowWorld w;
        SongRecord *record = w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), position - 3.0, duration);
        Tab tab(w, locked ? record : nullptr);
        QVERIFY(position - 3.0 >= 195.0 || !tab->showWrapUp());
        w.advance(3000ms);
        QCOMPARE(tab->showWrapUp(), shown);
        if (shown)
            QCOMPARE(tab->wrapUpHeadline(), QStringLiteral("下一次再来挑战吧"));
    }

    void rowsFollowPlayback_data()
    {
        QTest::addColumn<double>("position");
        QTest::addColumn<QString>("active");
        QTest::addColumn<QList<bool>>("dimmed");
        QTest::addColumn<double>("preflightOfSecond");
        // Lines every 0.5 s, cards at 10 s and 20 s.
        QTest::newRow("before the first card") << 5.0 << QString() << QList<bool>{true, true} << 0.0;
        QTest::newRow("first card lit") << 12.0 << QStringLiteral("card0|t#1/1") << QList<bool>{false, true} << 0.0;
        QTest::newRow("1.5 s before the second") << 18.5 << QStringLiteral("card0|t#1/1") << QList<bool>{false, true} << 0.25;
        QTest::newRow("2.0 s before the second") << 18.0 << QStringLiteral("card0|t#1/1") << QList<bool>{false, true} << 0.0;
        QTest::newRow("second reached") << 20.0 << QStringLiteral("card1|t#1/1") << QList<bool>{true, false} << 0.0;
    }
    void rowsFollowPlayback()
    {
        QFETCH(double, position);
        QFETCH(QString, active);
        QFETCH(QList<bool>, dimmed);
        QFETCH(double, preflightOfSecond);
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), position - 1.0, 200, 150, 0.5);
        Tab tab(w);
        w.advance(1000ms);
        QCOMPARE(tab->activeSlotIdText(), active);
        QCOMPARE(tab.row(0).isDimmed, dimmed.at(0));
        QCOMPARE(tab.row(1).isDimmed, dimmed.at(1));
        QCOMPARE(tab.row(1).preflightProgress, preflightOfSecond);
    }

    void masteringKeepsTheLitSlot()
    {
        NowWorld w;
        SongRecord *record = w.storeSong(QStringLiteral("Song"), {120, 130, 140});
        w.play(QStringLiteral("Song"), 196.0);
        Tab tab(w);
        QCOMPARE(tab->activeSlotIdText(), tab.slotOf(2));
        w.store->markMastered(record->cards().at(2));
        w.advance(400ms);
        QCOMPARE(tab->activeSlotIdText(), tab.slotOf(2));
        QVERIFY(tab.row(2).isActive);
        QCOMPARE(tab->newlyMasteredCount(), 1);
        QVERIFY(tab->showWrapUp());
    }

    void withoutLyricsNothingIsDimmedBeforeTheFirstCard()
    {
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), 5.0);
        w.vm.setLyricLines({});
        Tab tab(w);
        QVERIFY(!tab.row(0).isDimmed && !tab.row(1).isDimmed);
    }

    void cardOrderKeepsStoreOrderAmongEqualTimes()
    {
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {12.0, kNaN, 12.0});
        w.play(QStringLiteral("Song"), 1.0);
        Tab tab(w);
        QStringList order;
        for (LearnedCard *card : tab->sortedCards())
            order << card->en();
        QCOMPARE(order, (QStringList{QStringLiteral("card0"), QStringLiteral("card2"), QStringLiteral("card1")}));
    }

    void manualLighting_data()
    {
        QTest::addColumn<QString>("picked");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("active");
        QTest::newRow("picked card lit") << QStringLiteral("card1|t") << false << QStringLiteral("card1|t#1/1");
        QTest::newRow("unknown id falls back to time") << QStringLiteral("nope|t") << false << QStringLiteral("card0|t#1/1");
        QTest::newRow("locked song lights nothing") << QStringLiteral("card1|t") << true << QString();
    }
    void manualLighting()
    {
        QFETCH(QString, picked);
        QFETCH(bool, locked);
        QFETCH(QString, active);
        NowWorld w;
        SongRecord *record = w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), 12.0);
        Tab tab(w, locked ? record : nullptr);
        w.lighting.select(picked);
        NowWorld::settle();
        QCOMPARE(tab->activeSlotIdText(), active);
    }

    // Back from a song locked for browsing to the playing one, the slot at the position lights
    // and the list goes to it at once, without waiting for the next line.
    void releasedLockLightsThePosition_data()
    {
        QTest::addColumn<bool>("lockedOnPlaying");
        QTest::newRow("locked on the playing song itself") << true;
        QTest::newRow("locked on another song") << false;
    }
    void releasedLockLightsThePosition()
    {
        QFETCH(bool, lockedOnPlaying);
        NowWorld w;
        SongRecord *playing = w.storeSong(QStringLiteral("Song"), {10, 20});
        SongRecord *other = w.storeSong(QStringLiteral("Other"), {5});
        w.play(QStringLiteral("Song"), 22.0);
        Tab tab(w, lockedOnPlaying ? playing : other);
        QCOMPARE(tab->activeSlotIdText(), QString());
        QSignalSpy scrolls(tab.ctl.get(), &NowViewController::scrollToSlotRequested);
        tab->setLockedSong(nullptr);
        NowWorld::settle();
        QCOMPARE(tab->activeSlotIdText(), tab.slotOf(1));
        QVERIFY(!scrolls.isEmpty());
        QCOMPARE(scrolls.last().at(0).toString(), tab.slotOf(1));
    }

    void newlyMasteredCount_data()
    {
        QTest::addColumn<bool>("masteredBefore");
        QTest::addColumn<int>("toggles");
        QTest::addColumn<int>("counted");
        QTest::newRow("mastered while playing") << false << 1 << 1;
        QTest::newRow("mastered, unmarked, mastered again") << false << 3 << 1;
        QTest::newRow("already mastered when read") << true << 0 << 0;
        QTest::newRow("unmarked only") << true << 1 << 0;
    }
    void newlyMasteredCount()
    {
        QFETCH(bool, masteredBefore);
        QFETCH(int, toggles);
        QFETCH(int, counted);
        NowWorld w;
        SongRecord *record = w.storeSong(QStringLiteral("Song"), {10, 20});
        LearnedCard *card = record->cards().first();
        if (masteredBefore)
            w.store->markMastered(card);
        w.play(QStringLiteral("Song"), 12.0);
        // Built mid-song, as every return to the tab is: the song still counts.
        Tab tab(w);
        for (int i = 0; i < toggles; ++i) {
            if (card->isMastered())
                w.store->unmarkMastered(card);
            else
                w.store->markMastered(card);
            NowWorld::settle();
        }
        QCOMPARE(tab->newlyMasteredCount(), counted);
    }

    void lockedSongMasteriesDoNotCount()
    {
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10, 20});
        SongRecord *other = w.storeSong(QStringLiteral("Other"), {5});
        w.play(QStringLiteral("Song"), 12.0);
        Tab tab(w);
        tab->setLockedSong(other);
        NowWorld::settle();
        w.store->markMastered(other->cards().first());
        NowWorld::settle();
        tab->setLockedSong(nullptr);
        NowWorld::settle();
        QCOMPARE(tab->newlyMasteredCount(), 0);
        QCOMPARE(tab->masteredText(), QStringLiteral("已掌握 0/2"));
    }

    void aNewSongClearsTheCount()
    {
        NowWorld w;
        SongRecord *record = w.storeSong(QStringLiteral("Song"), {10});
        w.storeSong(QStringLiteral("Other"), {5});
        w.play(QStringLiteral("Song"), 12.0);
        Tab tab(w);
        w.store->markMastered(record->cards().first());
        NowWorld::settle();
        QCOMPARE(tab->newlyMasteredCount(), 1);
        w.play(QStringLiteral("Other"), 1.0);
        QCOMPARE(tab->newlyMasteredCount(), 0);
        w.play(QStringLiteral("Song"), 1.0);
        QCOMPARE(tab->newlyMasteredCount(), 0);
    }

    void songRestart_data()
    {
        QTest::addColumn<double>("before");
        QTest::addColumn<double>("after");
        QTest::addColumn<bool>("newSession");
        QTest::addColumn<bool>("restart");
        // Instead of the first slot, the list goes to the slot lit at `after` (centred).
        QTest::addColumn<bool>("toLit");
        QTest::newRow("jump back to the start") << 100.0 << 0.4 << false << true << false;
        QTest::newRow("short jump near the start") << 1.9 << 0.2 << false << false << false;
        QTest::newRow("same song, new session at the start") << 50.0 << 0.4 << true << true << false;
        QTest::newRow("same song, new session mid-song (a restore)") << 50.0 << 50.0 << true << false << true;
    }
    void songRestart()
    {
        QFETCH(double, before);
        QFETCH(double, after);
        QFETCH(bool, newSession);
        QFETCH(bool, restart);
        QFETCH(bool, toLit);
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), before);
        Tab tab(w);
        w.advance(600ms);
        QSignalSpy scrolls(tab.ctl.get(), &NowViewController::scrollToSlotRequested);
        if (newSession)
            w.play(QStringLiteral("Song"), after);
        else
            w.seek(after);
        w.advance(400ms);
        bool toFirstAtTop = false;
        bool toLitCentred = false;
        for (const auto &args : scrolls) {
            toFirstAtTop |= args.at(0).toString() == tab.slotOf(0) && args.at(1).toBool();
            toLitCentred |= args.at(0).toString() == tab.slotOf(1) && !args.at(1).toBool();
        }
        QCOMPARE(toFirstAtTop, restart);
        QCOMPARE(toLitCentred, toLit);
    }

    void userScrollPausesTrackingForThreeSeconds()
    {
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), 12.0);
        Tab tab(w);
        w.advance(1000ms); // past the guard of the view's own scrolls
        tab->handleCardOffsetChange(1.0);
        QVERIFY2(tab->isTrackingCards(), "a change of exactly 1 point is not a user scroll");
        tab->handleCardOffsetChange(2.5);
        QVERIFY(!tab->isTrackingCards());
        QVERIFY(tab->showBackToCurrent());
        w.advance(2000ms);
        tab->handleCardOffsetChange(40);
        w.advance(2500ms);
        QVERIFY2(!tab->isTrackingCards(), "resumes 3 s after the last step");
        QSignalSpy scrolls(tab.ctl.get(), &NowViewController::scrollToSlotRequested);
        w.advance(600ms);
        QVERIFY(tab->isTrackingCards());
        QCOMPARE(scrolls.size(), 1);
        QCOMPARE(scrolls.first().at(0).toString(), tab.slotOf(0));
        QCOMPARE(scrolls.first().at(1).toBool(), false);
    }

    // A content height change shortly after a scroll asks for that scroll again, at once; once
    // the scroll no longer counts as the list's own, it asks for nothing.
    void contentHeightChangeRetakesTheLastScroll_data()
    {
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<bool>("retaken");
        QTest::newRow("at once") << 0 << true;
        QTest::newRow("within the flag's half second") << 400 << true;
        QTest::newRow("after the flag dropped") << 600 << false;
    }
    void contentHeightChangeRetakesTheLastScroll()
    {
        QFETCH(int, afterMs);
        QFETCH(bool, retaken);
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), 12.0);
        Tab tab(w);
        w.advance(1000ms);
        tab->handleCardOffsetChange(40);
        QVERIFY(!tab->isTrackingCards());
        QSignalSpy scrolls(tab.ctl.get(), &NowViewController::scrollToSlotRequested);
        tab->returnToCurrentCard();
        QCOMPARE(scrolls.size(), 1);
        w.advance(std::chrono::milliseconds(afterMs));
        scrolls.clear();
        tab->handleContentHeightChange();
        QCOMPARE(scrolls.size(), retaken ? 1 : 0);
        if (retaken)
            QCOMPARE(scrolls.first(), (QVariantList{tab.slotOf(0), false, 0.0, false}));
    }

    void cardsErrorText_data()
    {
        QTest::addColumn<bool>("hasDetail");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("text");
        QTest::newRow("no detail: the fallback") << false << "" << "LLM 服务暂时不可用，请稍后重试。";
        QTest::newRow("an empty detail stays empty") << true << "" << "";
        QTest::newRow("the failure's own text") << true << "卡片响应解析失败。" << "卡片响应解析失败。";
    }
    void cardsErrorText()
    {
        QFETCH(bool, hasDetail);
        QFETCH(QString, detail);
        QFETCH(QString, text);
        QCOMPARE(NowViewController::cardsErrorText(hasDetail ? std::optional<QString>(detail) : std::nullopt), text);
    }

    void manualModeNeverScrollsByItself()
    {
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), 12.0);
        Tab tab(w);
        QSignalSpy scrolls(tab.ctl.get(), &NowViewController::scrollToSlotRequested);
        w.lighting.select(QStringLiteral("card1|t"));
        NowWorld::settle();
        QCOMPARE(tab->activeSlotIdText(), tab.slotOf(1));
        QCOMPARE(scrolls.size(), 0);
    }

    void panelStates_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("content");
        QTest::newRow("loading") << "loading" << int(NowViewController::Loading);
        QTest::newRow("nothing yet") << "empty" << int(NowViewController::Empty);
        QTest::newRow("cards failed") << "error" << int(NowViewController::CardsError);
        QTest::newRow("other language") << "notTarget" << int(NowViewController::NotTargetLanguage);
        QTest::newRow("cards") << "cards" << int(NowViewController::Cards);
    }
    void panelStates()
    {
        QFETCH(QString, situation);
        QFETCH(int, content);
        NowWorld w;
        if (situation == QLatin1String("cards"))
            w.storeSong(QStringLiteral("Song"), {10});
        w.play(QStringLiteral("Song"), 1.0);
        Tab tab(w);
        if (situation == QLatin1String("loading"))
            w.vm.beginCardsLoading();
        else if (situation == QLatin1String("error"))
            w.vm.setCardsError(CantorellaError::cardsUnavailable());
        else if (situation == QLatin1String("notTarget"))
            w.vm.setNotTargetLanguage(QStringLiteral("ja"));
        NowWorld::settle();
        QCOMPARE(tab->listContent(), content);
        QCOMPARE(tab->displayedRecord() != nullptr, situation == QLatin1String("cards"));
    }

    void bottomSpacerIsHalfTheViewport()
    {
        NowWorld w;
        Tab tab(w);
        QCOMPARE(tab->bottomSpacerHeight(), 300.0);
        tab->setViewportHeight(0);
        QCOMPARE(tab->bottomSpacerHeight(), 0.0);
    }

    void storeObjectsDeletedUnderTheTab()
    {
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), 12.0);
        Tab tab(w);
        QCOMPARE(tab->rows()->count(), 2);
        // The pipeline replaces the song's cards: the rows hold the new objects.
        w.storeSong(QStringLiteral("Song"), {10, 20, 30});
        NowWorld::settle();
        QTRY_COMPARE(tab->rows()->count(), 3);
        for (const auto &row : tab->rows()->rows())
            QVERIFY(row.card && !row.card->isDeleted());
        // A restore deletes every song.
        w.store->deleteAllSongs();
        NowWorld::settle();
        QTRY_COMPARE(tab->rows()->count(), 0);
        QVERIFY(!tab->displayedRecord());
        QCOMPARE(tab->listContent(), int(NowViewController::Empty));
    }

    void hueEchoRunsOnlyWhileAnimating()
    {
        EchoRig rig;
        auto &[w, frames, echo] = rig;
        echo.setStillElapsed(3.0);
        w.play(QStringLiteral("Song"), 40.0);
        QVERIFY(!frames.isRunning());
        QCOMPARE(echo.elapsed(), 3.0);
        echo.setAnimating(true);
        QVERIFY(frames.isRunning());
        w.advance(500ms);
        QVERIFY(!InterPanelHueEchoDriver::showsDifferently(echo.color(), InterPanelHueEchoDriver::colorAt(40.5)));
        echo.setAnimating(false);
        QVERIFY(!frames.isRunning());
        QCOMPARE(echo.elapsed(), 3.0);
    }

    // The wash is drawn at 12 %: a tick publishes only a step that changes a pixel, and what is
    // shown never differs visibly from the wash at the tick's time.
    void hueEchoPublishesOnlyVisibleSteps()
    {
        EchoRig rig;
        auto &[w, frames, echo] = rig;
        w.play(QStringLiteral("Song"), 0.0);
        echo.setAnimating(true);
        int ticks = 0, visiblyOff = 0;
        connect(&frames, &FrameClock::ticked, &echo, [&] {
            ++ticks;
            if (InterPanelHueEchoDriver::showsDifferently(echo.color(), InterPanelHueEchoDriver::colorAt(w.vm.displayedElapsed())))
                ++visiblyOff;
        });
        QSignalSpy published(&echo, &InterPanelHueEchoDriver::elapsedChanged);
        w.advance(14s); // one hue cycle
        QVERIFY(ticks > 100);
        QCOMPARE(visiblyOff, 0);
        QVERIFY2(published.size() > 5 && published.size() < ticks / 3, qPrintable(QString::number(published.size())));
    }

    void aTickWithinALinePublishesNothing()
    {
        NowWorld w;
        w.storeSong(QStringLiteral("Song"), {10, 20});
        w.play(QStringLiteral("Song"), 12.1, 200, 150, 1.0);
        Tab tab(w);
        QSignalSpy changes(tab.ctl.get(), &NowViewController::changed);
        QSignalSpy rowChanges(tab->rows(), &QAbstractItemModel::dataChanged);
        w.advance(600ms);
        QCOMPARE(changes.size(), 0);
        QCOMPARE(rowChanges.size(), 0);
        w.advance(400ms);
        QVERIFY(changes.size() >= 1);
    }

    // While the frame clock runs (a line is playing), the lyrics view and the Now tab take a new
    // line on the same tick, so the lit line and the lit card change in one frame, whatever the
    // phase of their own samples.
    void lyricsAndCardsTakeALineOnOneTick_data()
    {
        QTest::addColumn<double>("start");
        QTest::newRow("just after a line starts") << 10.02;
        QTest::newRow("a quarter in") << 10.25;
        QTest::newRow("mid-line") << 10.47;
        QTest::newRow("three quarters in") << 10.71;
        QTest::newRow("just before the next") << 10.93;
    }
    void lyricsAndCardsTakeALineOnOneTick()
    {
        QFETCH(double, start);
        NowWorld w;
        FrameClock frames(&w.clock);
        w.clocks.setFrameClock(&frames);
        w.storeSong(QStringLiteral("Song"), {10, 11, 12, 13, 14, 15});
        w.play(QStringLiteral("Song"), start);
        Tab tab(w);
        LyricsViewController lyrics;
        lyrics.setVm(&w.vm);
        lyrics.setCardLighting(&w.lighting);
        lyrics.setClocks(&w.clocks);
        lyrics.componentComplete();
        NowWorld::settle();
        QVERIFY(frames.isRunning());

        int lineChanges = 0, apart = 0;
        std::optional<qsizetype> last = lyrics.activeLineIndex();
        for (int step = 0; step < 400; ++step) { // 4 s: four new lines
            w.clock.advance(10ms);
            NowWorld::settle();
            if (lyrics.activeLineIndex() != tab->currentCardActiveLineIndex())
                ++apart;
            if (lyrics.activeLineIndex() != last)
                ++lineChanges;
            last = lyrics.activeLineIndex();
        }
        QCOMPARE(apart, 0);
        QCOMPARE(lineChanges, 4);
        QCOMPARE(tab->activeSlotId(), std::optional<QString>(tab.slotOf(int(*last) - 10)));
    }
};

QTEST_MAIN(TestNowView)
#include "tst_nowview.moc"
