// Texts and rules of the lyrics side: time and offset labels, word pieces and lit runs, the
// offset slider's clamp and flash, what the compact panel shows for each view-model state.
#include "tst_lyrics_fixture.h"

#include "ui/player/CompactLyricsPanelController.h"
#include "ui/player/LyricLineRules.h"
#include "ui/player/OffsetSliderController.h"
#include "ui/player/PlayerFormat.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>
#include <limits>

using namespace std::chrono_literals;
using lyricstest::PlayerGraph;

class TestLyricsRules : public QObject
{
    Q_OBJECT

private slots:
    void timeLabel_data();
    void timeLabel();
    void offsetLabel_data();
    void offsetLabel();
    void litPieces_data();
    void litPieces();
    void richTextShowsMarkupLiterally();
    void sliderClampsAndFlashes();
    void sliderWithoutTrackChangesNothing();
    void panelStates_data();
    void panelStates();
    void panelWidthClass();
    void progressRowSamplesOnTheSecond_data();
    void progressRowSamplesOnTheSecond();
    void playerReadsLeaveTheProgressRowToItsTimer();
    void progressRowChangesOnceASecondWhileTheFrameClockRuns();
    void progressRowJoinsTheLyricsTick_data();
    void progressRowJoinsTheLyricsTick();
    void idlePositionIsTheLyricsOffset();
};

void TestLyricsRules::timeLabel_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("65.9") << 65.9 << "1:05";
    QTest::newRow("an hour") << 3600.0 << "60:00";
    QTest::newRow("negative") << -4.0 << "0:00";
    QTest::newRow("NaN") << std::nan("") << "0:00";
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "0:00";
    QTest::newRow("huge stays an integer") << 1e300 << "16666666666:40";
}

void TestLyricsRules::timeLabel()
{
    QFETCH(double, seconds);
    QFETCH(QString, expected);
    QCOMPARE(PlayerFormat::timeLabel(seconds), expected);
}

void TestLyricsRules::offsetLabel_data()
{
    QTest::addColumn<double>("offset");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zero") << 0.0 << "+0.00 s";
    QTest::newRow("negative zero") << -0.0 << "+0.00 s";
    QTest::newRow("rounds to zero") << -0.001 << "+0.00 s";
    QTest::newRow("negative") << -0.35 << "-0.35 s";
    QTest::newRow("bound") << 2.0 << "+2.00 s";
    QTest::newRow("positive") << 1.25 << "+1.25 s";
}

void TestLyricsRules::offsetLabel()
{
    QFETCH(double, offset);
    QFETCH(QString, expected);
    QCOMPARE(PlayerFormat::offsetLabel(offset), expected);
}

void TestLyricsRules::litPieces_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("litCount");
    QTest::addColumn<int>("pieces");
    QTest::newRow("nothing lit") << "a b c" << 0 << 0;
    QTest::newRow("negative") << "a b c" << -2 << 0;
    QTest::newRow("two of three") << "a b c" << 2 << 2;
    QTest::newRow("more than there are") << "a b c" << 9 << 3;
    QTest::newRow("double blank: the empty piece comes along") << "a  b c" << 2 << 3;
    QTest::newRow("double blank: the last word lights") << "a  b c" << 3 << 4;
    QTest::newRow("no words") << "" << 3 << 1;
}

void TestLyricsRules::litPieces()
{
    QFETCH(QString, text);
    QFETCH(int, litCount);
    QFETCH(int, pieces);
    QCOMPARE(LyricLineRules::litPieceCount(LyricLineRules::words(text), litCount), qsizetype(pieces));
}

void TestLyricsRules::richTextShowsMarkupLiterally()
{
    const QString html = LyricLineRules::wordRowRichText(LyricLineRules::words(QStringLiteral("<b>&  x")), 1,
                                                         QStringLiteral("#eafcff"));
    QVERIFY(html.contains(QStringLiteral("&lt;b&gt;&amp;")));
    QVERIFY(!html.contains(QStringLiteral("<b>")));
    QVERIFY(html.contains(QStringLiteral("white-space: pre-wrap")));
    // Lit "<b>&", then the blank, the empty piece's blank and "x" unlit.
    QVERIFY(html.contains(QStringLiteral("&lt;b&gt;&amp; </span>")));
    QVERIFY(html.endsWith(QStringLiteral(" x</span>")));
}

void TestLyricsRules::sliderClampsAndFlashes()
{
    PlayerGraph g;
    g.startSong(PlayerGraph::lines(3), 0.0);
    OffsetSliderController slider;
    slider.setVm(&g.vm);
    slider.setClocks(&g.clocks);
    QVERIFY(!slider.showsReset());

    slider.setValue(2.7);
    QVERIFY(slider.atBoundary());
    QCOMPARE(g.vm.effectiveOffset(), 2.0);
    QCOMPARE(slider.valueText(), QStringLiteral("+2.00 s"));
    QVERIFY(slider.showsReset());
    g.advance(50ms);
    slider.setValue(-3.0); // a second clamp: the first flash still ends at its own 0.1 s
    g.advance(50ms);
    QTRY_VERIFY(!slider.atBoundary());

    slider.setValue(-0.01); // rounds to −0.0 in the view model
    QCOMPARE(slider.valueText(), QStringLiteral("+0.00 s"));
    QVERIFY(!slider.atBoundary());

    // "重置" announces what it changed: the screen reads the value and the button's visibility
    // from the signals, never by asking again.
    slider.setValue(0.5);
    QSignalSpy valueChanged(&slider, &OffsetSliderController::valueChanged);
    QSignalSpy showsResetChanged(&slider, &OffsetSliderController::showsResetChanged);
    slider.reset();
    QVERIFY(!slider.showsReset());
    QCOMPARE(g.vm.effectiveOffset(), g.vm.globalOffset());
    QVERIFY(!valueChanged.isEmpty());
    QVERIFY(!showsResetChanged.isEmpty());
}

void TestLyricsRules::sliderWithoutTrackChangesNothing()
{
    PlayerGraph g;
    g.vm.setGlobalOffset(0.3);
    OffsetSliderController slider;
    slider.setVm(&g.vm);
    slider.setValue(1.0);
    QCOMPARE(slider.value(), 0.3);
    QCOMPARE(slider.valueText(), QStringLiteral("+0.30 s"));
    QVERIFY(!slider.showsReset());
}

// setup: "notFound", "unavailable" (fetch failed, optional detail), "lines", "loading", "banner"
void TestLyricsRules::panelStates_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("area");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<bool>("retry");
    using C = CompactLyricsPanelController;
    QTest::newRow("not found") << "notFound" << int(C::FailureArea) << "暂无歌词" << "所有歌词源均未找到该曲目的歌词。" << false;
    QTest::newRow("fetch failed without detail")
        << "unavailable" << int(C::FailureArea) << "歌词获取失败" << "歌词服务暂时不可用，请稍后重试。" << true;
    QTest::newRow("lines while still loading") << "lines loading" << int(C::LinesArea) << "" << "" << false;
    QTest::newRow("loading") << "loading" << int(C::FetchingArea) << "" << "" << false;
    QTest::newRow("nothing yet") << "" << int(C::EmptyArea) << "" << "" << false;
}

void TestLyricsRules::panelStates()
{
    QFETCH(QString, setup);
    QFETCH(int, area);
    QFETCH(QString, title);
    QFETCH(QString, detail);
    QFETCH(bool, retry);
    PlayerGraph g;
    g.vm.resetForNewSong(PlayerGraph::track());
    g.vm.setIsLoadingLyrics(false);
    if (setup.contains(u"notFound"))
        g.vm.setLyricsNotFound(LyricsResult::notFound());
    if (setup.contains(u"unavailable")) {
        g.vm.setLyricsError(QString());
        g.vm.setLyricsErrorDetail(std::nullopt);
    }
    if (setup.contains(u"lines"))
        g.vm.setLyricLines(PlayerGraph::lines(3));
    if (setup.contains(u"loading"))
        g.vm.setIsLoadingLyrics(true);

    CompactLyricsPanelController panel;
    panel.setVm(&g.vm);
    QCOMPARE(panel.lyricsArea(), area);
    QCOMPARE(panel.showsRetry(), retry);
    if (area == CompactLyricsPanelController::FailureArea) {
        QCOMPARE(panel.failureTitle(), title);
        QCOMPARE(panel.failureDetail(), detail);
    }
}

void TestLyricsRules::panelWidthClass()
{
    PlayerGraph g;
    NowPlayingTrack track = PlayerGraph::track();
    track.artist.clear();
    g.vm.resetForNewSong(track);
    CompactLyricsPanelController panel;
    panel.setVm(&g.vm);
    panel.setWidth(249);
    QVERIFY(panel.isCompact());
    panel.setWidth(250);
    QVERIFY(!panel.isCompact());
    QVERIFY(panel.artistLine().isEmpty()); // an album alone shows no artist line

    g.vm.resetForNoTrack();
    QCOMPARE(panel.title(), QStringLiteral("Cantorella"));
    QVERIFY(!panel.showsBanner());
    QCOMPARE(panel.breathScale(), 1.0);
}

void TestLyricsRules::progressRowSamplesOnTheSecond_data()
{
    QTest::addColumn<double>("position");
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("seconds");
    QTest::newRow("just after a second: the next one") << 12.01 << 1.0 << 1.005;
    QTest::newRow("near the next second: never before 0.5 s") << 12.9 << 1.0 << 0.5;
    QTest::newRow("double speed") << 12.0 << 2.0 << 0.515;
    QTest::newRow("negative position (offset)") << -0.75 << 1.0 << 0.765;
    QTest::newRow("paused") << 12.3 << 0.0 << 0.5;
    QTest::newRow("not a number") << qQNaN() << 1.0 << 0.5;
}

void TestLyricsRules::progressRowSamplesOnTheSecond()
{
    QFETCH(double, position);
    QFETCH(double, rate);
    QFETCH(double, seconds);
    const auto delay = CompactLyricsPanelController::delayAfterSample(position, rate);
    QVERIFY2(std::abs(delay.count() / 1e9 - seconds) < 1e-6, qPrintable(QString::number(delay.count() / 1e9)));
}

// Each read of the player rewrites the track and the anchor; only a jump moves the row at once.
void TestLyricsRules::playerReadsLeaveTheProgressRowToItsTimer()
{
    using namespace std::chrono_literals;
    PlayerGraph g;
    NowPlayingTrack track = PlayerGraph::track();
    g.vm.resetForNewSong(track);
    g.vm.setAnchor(SampleAnchor{g.clock.now(), 10.0, 1.0});
    CompactLyricsPanelController panel;
    panel.setClocks(&g.clocks);
    panel.setVm(&g.vm);
    panel.componentComplete();
    QCOMPARE(panel.position(), 10.0);
    QSignalSpy moved(&panel, &CompactLyricsPanelController::positionChanged);

    g.clock.advance(300ms);
    track.elapsed = 10.3;
    g.vm.setTrack(track);
    g.vm.setAnchor(SampleAnchor{g.clock.now(), 10.32, 1.0});
    QCOMPARE(moved.count(), 0);

    g.vm.setAnchor(SampleAnchor{g.clock.now(), 42.0, 1.0}); // a seek
    QCOMPARE(moved.count(), 1);
    QCOMPARE(panel.position(), 42.0);

    track.isPlaying = false; // a pause starts the row over
    g.vm.setTrack(track);
    g.vm.setAnchor(SampleAnchor{g.clock.now(), 42.0, 0.0});
    QCOMPARE(panel.position(), 42.0);
    QVERIFY(!panel.isPlaying());
}

// The lit words hold the frame clock while a line plays, so the row's samples wait for ticks;
// the row must still change once a second (label and bar together), not every half second.
void TestLyricsRules::progressRowChangesOnceASecondWhileTheFrameClockRuns()
{
    using namespace std::chrono_literals;
    PlayerGraph g;
    g.vm.resetForNewSong(PlayerGraph::track());
    QObject litWords;
    g.frames.hold(&litWords);
    g.clock.advance(20ms); // ticks fall between whole seconds
    g.vm.setAnchor(SampleAnchor{g.clock.now(), 10.6, 1.0}); // first sample mid-second
    CompactLyricsPanelController panel;
    panel.setClocks(&g.clocks);
    panel.setVm(&g.vm);
    panel.componentComplete();
    QSignalSpy moved(&panel, &CompactLyricsPanelController::positionChanged);
    QStringList labels;
    connect(&panel, &CompactLyricsPanelController::positionChanged, this,
            [&] { labels.append(panel.positionText()); });

    for (int step = 0; step < 500; ++step) { // 5 s in steps finer than a tick
        g.clock.advance(10ms);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    QCOMPARE(moved.count(), 5);
    QCOMPARE(labels.count(), int(QSet<QString>(labels.begin(), labels.end()).size())); // each a new second
}

// Gated, the row's change after a whole second waits for the tick on which the lyrics change, if
// one comes soon enough; animated, every tick draws anyway and the next one takes it.
void TestLyricsRules::progressRowJoinsTheLyricsTick_data()
{
    QTest::addColumn<bool>("animated");
    QTest::addColumn<double>("lineAt");
    QTest::addColumn<double>("earliest"); // the position the row shows 0:11 at
    QTest::addColumn<double>("latest");
    QTest::newRow("a line 0.2 s after the second: on its tick") << false << 11.2 << 11.2 << 11.3;
    QTest::newRow("a line 0.6 s after: at most 0.4 s late, alone") << false << 11.6 << 11.35 << 11.5;
    QTest::newRow("no line near: the same") << false << 20.0 << 11.35 << 11.5;
    QTest::newRow("animated: the next tick") << true << 11.2 << 11.0 << 11.12 + 0.1;
}

void TestLyricsRules::progressRowJoinsTheLyricsTick()
{
    QFETCH(bool, animated);
    QFETCH(double, lineAt);
    PlayerGraph g;
    g.vm.resetForNewSong(PlayerGraph::track());
    g.vm.setLyricLines({{0.0, QStringLiteral("one")}, {lineAt, QStringLiteral("two")}, {40.0, QStringLiteral("three")}});
    QObject litWords;
    g.frames.hold(&litWords, FrameClock::Pace::Ambient);
    g.clock.advance(20ms); // ticks fall between whole seconds
    g.vm.setAnchor(SampleAnchor{g.clock.now(), 10.6, 1.0});
    CompactLyricsPanelController panel;
    panel.setClocks(&g.clocks);
    panel.setVm(&g.vm);
    panel.setBreathing(animated);
    panel.componentComplete();
    QCOMPARE(panel.positionText(), QStringLiteral("0:10"));

    for (int step = 0; step < 200 && panel.positionText() == u"0:10"; ++step) {
        g.clock.advance(5ms);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    QCOMPARE(panel.positionText(), QStringLiteral("0:11"));
    QFETCH(double, earliest);
    QFETCH(double, latest);
    QVERIFY2(panel.position() >= earliest && panel.position() <= latest,
             qPrintable(QString::number(panel.position())));
}

// Without a track the position (the idle invitation's breathing, the background's drift) is the
// lyrics offset alone.
void TestLyricsRules::idlePositionIsTheLyricsOffset()
{
    PlayerGraph g;
    CompactLyricsPanelController panel;
    panel.setClocks(&g.clocks);
    panel.setVm(&g.vm);
    panel.componentComplete();
    QCOMPARE(panel.position(), 0.0);
    QSignalSpy moved(&panel, &CompactLyricsPanelController::positionChanged);
    g.vm.setGlobalOffset(1.25);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(panel.position(), 1.25);
    QVERIFY(!panel.hasTrack());
}

QTEST_MAIN(TestLyricsRules)
#include "tst_lyricsrules.moc"
