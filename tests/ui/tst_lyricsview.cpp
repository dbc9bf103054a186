// The lyrics list's logic on a hand-driven clock with the real view model: which line plays,
// the rows' states and opacities, the lit words, when the list scrolls and how, user scrolls,
// copying a line; the model's change announcements.
#include "tst_lyrics_fixture.h"

#include "ui/player/LyricLineRules.h"
#include "ui/player/LyricsViewController.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;
using lyricstest::PlayerGraph;

class TestLyricsView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void statesAndOpacity_data();
    void statesAndOpacity();
    void scrollDecisions_data();
    void scrollDecisions();
    void userScrollsAndResume();
    void manualLightingStopsFollowingOnly();
    void ticksAnnounceOnlyFadingRows();
    void litWordsFollowThePosition();
    void copyLine();
    void spacers();

private:
    void makeController(bool reduceMotion = false);

    std::unique_ptr<PlayerGraph> g;
    std::unique_ptr<LyricsViewController> ctl;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

void TestLyricsView::init()
{
    g = std::make_unique<PlayerGraph>();
}

void TestLyricsView::cleanup()
{
    tester.reset();
    ctl.reset();
    // Cancelled sleeps end on the next turns of the event loop, while their clock still exists.
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    g.reset();
}

void TestLyricsView::makeController(bool reduceMotion)
{
    ctl = std::make_unique<LyricsViewController>();
    ctl->classBegin();
    ctl->setVm(&g->vm);
    ctl->setCardLighting(&g->lighting);
    ctl->setToastCenter(&g->toasts);
    ctl->setClocks(&g->clocks);
    ctl->setReduceMotion(reduceMotion);
    ctl->componentComplete();
    tester = std::make_unique<QAbstractItemModelTester>(ctl->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
}

// Lines at 0, 10, 20, …: a past line ends when the next one starts.
void TestLyricsView::statesAndOpacity_data()
{
    QTest::addColumn<double>("position");
    QTest::addColumn<bool>("reduceMotion");
    QTest::addColumn<int>("active");
    QTest::addColumn<double>("row1Opacity");
    QTest::addColumn<double>("row4Opacity");
    QTest::newRow("before the first line every row is future") << -1.0 << false << -1 << 0.65 << 0.65;
    QTest::newRow("age 0 shows at full opacity") << 20.0 << false << 2 << 1.0 << 0.65;
    QTest::newRow("held 3 s after its end") << 23.0 << false << 2 << 0.65 << 0.65;
    QTest::newRow("half-way through the fade") << 25.4 << false << 2 << 0.435 << 0.65;
    QTest::newRow("faded after 6 s") << 26.0 << false << 2 << 0.22 << 0.65;
    QTest::newRow("Reduce Motion never fades") << 36.0 << true << 3 << 0.65 << 0.65;
    QTest::newRow("the active row is full") << 45.0 << false << 4 << 0.22 << 1.0;
    QTest::newRow("the last line lasts 5 s") << 104.0 << false << 9 << 0.22 << 0.22;
}

void TestLyricsView::statesAndOpacity()
{
    QFETCH(double, position);
    QFETCH(bool, reduceMotion);
    QFETCH(int, active);
    QFETCH(double, row1Opacity);
    QFETCH(double, row4Opacity);
    g->startSong(PlayerGraph::lines(10, 10.0), position);
    g->seek(position, 0.0);
    makeController(reduceMotion);
    g->advance(100ms);

    QCOMPARE(ctl->activeLineIndexOrMinusOne(), active);
    QVERIFY(qAbs(ctl->model()->opacityAt(1) - row1Opacity) < 1e-9);
    QVERIFY(qAbs(ctl->model()->opacityAt(4) - row4Opacity) < 1e-9);
    for (int row = 0; row < 10; ++row) {
        const LineState expected = LyricLineRules::stateOf(row, active < 0 ? std::nullopt : std::optional<qsizetype>(active));
        QCOMPARE(ctl->model()->data(ctl->model()->index(row), LyricLinesModel::LineStateRole).toInt(), int(expected));
    }
}

// steps: "seek <t>" (then 0.1 s passes), "viewport <h>", "session <t>" (a new song at t),
// "reduce"; expected: the scroll requests as "<row>:<a|s>" (animated or snap).
void TestLyricsView::scrollDecisions_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("the first scroll snaps, then 1 line animates")
        << "viewport 600; seek 10.1; seek 12.6" << QStringList{"4:s", "5:a"};
    QTest::newRow("5 lines animate, 6 snap")
        << "viewport 600; seek 12.6; seek 25.1" << QStringList{"5:s", "10:a"};
    QTest::newRow("6 lines snap") << "viewport 600; seek 2.6; seek 17.6" << QStringList{"1:s", "7:s"};
    QTest::newRow("Reduce Motion snaps every scroll") << "reduce; viewport 600; seek 2.6; seek 5.1"
                                                      << QStringList{"1:s", "2:s"};
    QTest::newRow("no scroll before the viewport is measured, the appear scrolls")
        << "seek 5.1; viewport 600" << QStringList{"2:s"};
    QTest::newRow("a new song before its first line scrolls to line 0 and snaps")
        << "viewport 600; seek 5.1; session -3" << QStringList{"2:s", "0:s"};
    QTest::newRow("seeking back before the first line scrolls to line 0")
        << "viewport 600; seek 5.1; seek -2" << QStringList{"2:s", "0:a"};
    QTest::newRow("a viewport change re-centres") << "viewport 600; seek 5.1; viewport 500"
                                                  << QStringList{"2:s", "2:a"};
}

void TestLyricsView::scrollDecisions()
{
    QFETCH(QString, steps);
    QFETCH(QStringList, expected);
    g->startSong(PlayerGraph::lines(40), -5);
    bool reduce = steps.startsWith(u"reduce");
    makeController(reduce);
    QStringList requests;
    connect(ctl.get(), &LyricsViewController::scrollRequested, ctl.get(),
            [&](int row, bool animated) { requests << QStringLiteral("%1:%2").arg(row).arg(animated ? QStringLiteral("a") : QStringLiteral("s")); });

    for (const QString &raw : steps.split(u';')) {
        const QStringList step = raw.trimmed().split(u' ');
        if (step.at(0) == u"viewport") {
            ctl->setViewportHeight(step.at(1).toDouble());
        } else if (step.at(0) == u"seek") {
            g->seek(step.at(1).toDouble(), 0.0);
            g->advance(200ms); // the lyrics' tick, then the frame clock's
        } else if (step.at(0) == u"session") {
            g->startSong(PlayerGraph::lines(40), step.at(1).toDouble(), QStringLiteral("Other"));
            g->seek(step.at(1).toDouble(), 0.0);
            g->advance(200ms);
        }
    }
    QVERIFY2(requests == expected, qPrintable(requests.join(u' ')));
}

void TestLyricsView::userScrollsAndResume()
{
    g->startSong(PlayerGraph::lines(40), 50.1);
    g->seek(50.1, 0.0);
    makeController();
    ctl->setViewportHeight(600);
    QSignalSpy scrolls(ctl.get(), &LyricsViewController::scrollRequested);
    g->advance(600ms); // the appear scroll's flag is down again

    ctl->handleOffsetChange(40); // T
    QVERIFY(!ctl->isTracking());
    g->advance(2000ms);
    ctl->handleOffsetChange(90); // T + 2
    g->advance(2900ms);
    QVERIFY(!ctl->isTracking());
    QCOMPARE(scrolls.count(), 0);
    g->advance(200ms); // T + 5.1
    QVERIFY(ctl->isTracking());
    QCOMPARE(scrolls.count(), 1);
    QCOMPARE(scrolls.at(0).at(0).toInt(), 20);

    // "回到当前" at once, and the pending resume is dropped.
    g->advance(600ms);
    ctl->handleOffsetChange(300);
    QVERIFY(!ctl->isTracking());
    ctl->returnToCurrent();
    QVERIFY(ctl->isTracking());
    QCOMPARE(scrolls.count(), 2);
    QSignalSpy tracking(ctl.get(), &LyricsViewController::isTrackingChanged);
    g->advance(3500ms);
    QCOMPARE(tracking.count(), 0);
}

void TestLyricsView::manualLightingStopsFollowingOnly()
{
    g->startSong(PlayerGraph::lines(40), 10.1);
    g->seek(10.1, 0.0);
    makeController();
    ctl->setViewportHeight(600);
    g->advance(600ms);
    QSignalSpy scrolls(ctl.get(), &LyricsViewController::scrollRequested);
    g->lighting.select(QStringLiteral("card-1"));
    QVERIFY(!g->lighting.isAuto());
    g->seek(20.1, 0.0);
    g->advance(200ms);
    QCOMPARE(ctl->activeLineIndexOrMinusOne(), 8);
    QCOMPARE(scrolls.count(), 0);
    ctl->handleOffsetChange(200);
    QVERIFY(!ctl->isTracking());
}

void TestLyricsView::ticksAnnounceOnlyFadingRows()
{
    // Lines every 2.5 s: at 101.0 … 101.3 s line 40 plays and no past line is inside its fade.
    g->startSong(PlayerGraph::lines(300), 101.0);
    makeController();
    g->advance(100ms);
    QSignalSpy changes(ctl->model(), &QAbstractItemModel::dataChanged);
    QSignalSpy resets(ctl->model(), &QAbstractItemModel::modelReset);
    for (int i = 0; i < 3; ++i)
        g->advance(100ms);
    QCOMPARE(changes.count(), 0);

    // Line 41 starts: 40 goes past, 41 becomes active; no reset.
    g->seek(102.55, 0.0);
    g->advance(100ms);
    QCOMPARE(resets.count(), 0);
    QVERIFY(changes.count() >= 1);
    QCOMPARE(changes.at(0).at(0).value<QModelIndex>().row(), 40);
    QCOMPARE(changes.at(0).at(1).value<QModelIndex>().row(), 41);

    // Within line 41, line 38 (ended at 97.5) fades: only its opacity is announced.
    changes.clear();
    g->seek(103.0, 0.0);
    g->advance(200ms); // the lyrics' tick, then the frame clock's
    QCOMPARE(changes.count(), 1);
    QCOMPARE(changes.at(0).at(0).value<QModelIndex>().row(), 38);
    QCOMPARE(changes.at(0).at(2).value<QList<int>>(), QList<int>{LyricLinesModel::LineOpacityRole});
}

void TestLyricsView::litWordsFollowThePosition()
{
    // "a  b c": three words for the view model, four pieces with an empty one.
    g->startSong({{0.0, QStringLiteral("a  b c")}, {3.0, QStringLiteral("next")}}, 0.0);
    g->seek(0.0, 0.0);
    makeController();
    g->advance(100ms);
    QCOMPARE(ctl->activeLitPieces(), 1);
    g->seek(2.99, 0.0);
    g->advance(100ms);
    QCOMPARE(ctl->activeLitPieces(), 4); // every word lit: the empty piece never holds the last one back
}

void TestLyricsView::copyLine()
{
    g->startSong({{0.0, QStringLiteral("one  two <b>&")}, {3.0, QStringLiteral("next")}}, 0.5);
    makeController();
    g->advance(100ms);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    ctl->copyLine(1); // not the playing line
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    QVERIFY(g->toasts.currentText().isEmpty());
    ctl->copyLine(0);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("one  two <b>&"));
    QCOMPARE(g->toasts.currentText(), QStringLiteral("已复制 / Copied"));
    g->advance(1600ms);
    QTRY_VERIFY(g->toasts.currentText().isEmpty());
}

void TestLyricsView::spacers()
{
    g->startSong(PlayerGraph::lines(3), 0.0);
    makeController();
    ctl->setViewportHeight(600);
    QCOMPARE(ctl->topSpacerHeight(), 80.0);
    QCOMPARE(ctl->bottomSpacerHeight(), 300.0);
    ctl->setViewportHeight(100);
    QCOMPARE(ctl->topSpacerHeight(), 50.0);
}

QTEST_MAIN(TestLyricsView)
#include "tst_lyricsview.moc"
