// The main view and the compact lyrics panel in a window (offscreen), over the real view model
// on a hand-driven clock; any QML warning fails.
#include "DesignTestSupport.h"
#include "tst_lyrics_fixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QQuickItem>
#include <QSignalSpy>
#include <QtTest>

using namespace std::chrono_literals;
using lyricstest::PlayerGraph;

class TestMainView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { designtest::configureApplication(); }
    void init();
    void cleanup();
    void activeLineIsCentred();
    void wheelStopsFollowingUntilThreeSecondsLater();
    void rowsBelowAGrowingLineMoveSmoothly();
    void clickCopiesThePlayingLine();
    void retryAsksTheHost();
    void columnsShareTheWidth_data();
    void columnsShareTheWidth();
    void compactPanelAloneShowsIdle();
    void nowPlayingChipAndBadges();

private:
    // A view of the Player module (the main view unless named) on the graph's objects.
    bool loadMainView(QSize size = {800, 950}, const QByteArray &view = "MainView", bool reduceMotion = false);
    double activeRowCentreOffset() const;
    QQuickItem *row(int index) const;

    std::unique_ptr<PlayerGraph> g;
    std::unique_ptr<designtest::Scene> scene;
};

void TestMainView::init()
{
    designtest::failOnAnyWarning();
    g = std::make_unique<PlayerGraph>();
    scene = std::make_unique<designtest::Scene>();
}

void TestMainView::cleanup()
{
    scene.reset();
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    g.reset();
}

bool TestMainView::loadMainView(QSize size, const QByteArray &view, bool reduceMotion)
{
    const QVariantMap properties{
        {QStringLiteral("vm"), QVariant::fromValue<QObject *>(&g->vm)},
        {QStringLiteral("cardStore"), QVariant::fromValue<QObject *>(nullptr)},
        {QStringLiteral("cardLighting"), QVariant::fromValue<QObject *>(&g->lighting)},
        {QStringLiteral("toastCenter"), QVariant::fromValue<QObject *>(&g->toasts)},
        {QStringLiteral("clocks"), QVariant::fromValue<QObject *>(&g->clocks)},
        {QStringLiteral("reduceMotion"), reduceMotion},
    };
    return scene->load("import QtQuick\nimport Cantorella.Player\n" + view + " {}\n", size, properties);
}

QQuickItem *TestMainView::row(int index) const
{
    return findItem(scene->find(QStringLiteral("lyricsView.flickable")), QStringLiteral("lyricLine.%1").arg(index));
}

// How far the active row's centre is from the viewport's centre.
double TestMainView::activeRowCentreOffset() const
{
    auto *flick = scene->find(QStringLiteral("lyricsView.flickable"));
    const int active = g->vm.activeLineIndex(g->vm.displayedElapsed()).value_or(-1);
    QQuickItem *activeRow = row(active);
    if (!flick || !activeRow)
        return 1e9;
    const double centre = activeRow->mapToItem(flick, QPointF(0, 0)).y() + activeRow->height() / 2;
    return centre - flick->height() / 2;
}

void TestMainView::activeLineIsCentred()
{
    g->startSong(PlayerGraph::lines(40), 63.0);
    g->seek(63.0, 0.0);
    QVERIFY(loadMainView());
    g->advance(100ms);
    QTRY_VERIFY(row(25));
    g->advance(500ms); // the scroll's frames
    QTRY_VERIFY2(qAbs(activeRowCentreOffset()) <= 1.0, qPrintable(QString::number(activeRowCentreOffset())));
}

void TestMainView::wheelStopsFollowingUntilThreeSecondsLater()
{
    g->startSong(PlayerGraph::lines(40), 63.0);
    g->seek(63.0, 0.0);
    QVERIFY(loadMainView());
    g->advance(600ms); // the scroll's frames
    QTRY_VERIFY(qAbs(activeRowCentreOffset()) <= 1.0);
    g->advance(600ms); // past the guard after the list's own scroll

    auto *flick = scene->find(QStringLiteral("lyricsView.flickable"));
    auto *button = scene->find(QStringLiteral("lyricsView.backToCurrent"));
    QVERIFY(flick && button);
    QVERIFY(!button->isVisible());
    const QPointF at = flick->mapToScene(QPointF(flick->width() / 2, flick->height() / 2));
    QWheelEvent wheel(at, at, QPoint(), QPoint(0, 360), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QGuiApplication::sendEvent(scene->window.get(), &wheel);
    QTRY_VERIFY(button->isVisible());
    QTRY_VERIFY(!flick->property("moving").toBool());
    QVERIFY(qAbs(activeRowCentreOffset()) > 20);

    g->advance(3100ms);
    QTRY_VERIFY(!button->isVisible());
    g->advance(500ms); // the scroll's frames
    QTRY_VERIFY2(qAbs(activeRowCentreOffset()) <= 1.0, qPrintable(QString::number(activeRowCentreOffset())));
}

// The playing line is set larger: when the next line starts, the rows below it move by the
// difference over a scroll's time, in steps, not in one frame; the rows then show their words'
// heights. At the top of the song, where the list does not scroll.
void TestMainView::rowsBelowAGrowingLineMoveSmoothly()
{
    QList<SyncedLine> lines = PlayerGraph::lines(40);
    lines[1].text = QStringLiteral("Line 1 is much longer than the others and wraps onto more rows, more so when set larger");
    g->startSong(lines, 1.0);
    QVERIFY(loadMainView());
    g->advance(600ms);
    QTRY_VERIFY(row(2));
    QQuickItem *playing = row(0);
    QQuickItem *next = row(1);
    QQuickItem *below = row(2);
    // Where the column places the row now (it lays out before a frame; the test draws none).
    const auto belowY = [below] {
        QMetaObject::invokeMethod(below->parentItem(), "forceLayout");
        return below->y();
    };
    const double smallHeight = next->implicitHeight();
    // From the last step before the line grew on.
    QList<double> ys{belowY()};
    for (int i = 0; i < 40 && next->implicitHeight() == smallHeight; ++i) {
        ys = {belowY()};
        g->advance(50ms);
    }
    QVERIFY2(next->implicitHeight() > smallHeight, "the playing line is set larger");
    for (int i = 0; i < 12; ++i) {
        ys << belowY();
        g->advance(50ms);
    }
    ys << belowY();
    QCOMPARE(playing->height(), playing->implicitHeight());
    QCOMPARE(next->height(), next->implicitHeight());
    const double moved = ys.last() - ys.first();
    QVERIFY2(qAbs(moved) >= 2, qPrintable(QString::number(moved)));
    double largestStep = 0;
    for (qsizetype i = 1; i < ys.size(); ++i)
        largestStep = std::max(largestStep, qAbs(ys[i] - ys[i - 1]));
    QVERIFY2(largestStep <= 0.6 * qAbs(moved), qPrintable(QStringLiteral("%1 of %2").arg(largestStep).arg(moved)));
}

void TestMainView::clickCopiesThePlayingLine()
{
    g->startSong(PlayerGraph::lines(40), 63.0);
    g->seek(63.0, 0.0);
    QVERIFY(loadMainView());
    g->advance(600ms); // the scroll's frames
    QTRY_VERIFY(qAbs(activeRowCentreOffset()) <= 1.0);
    QQuickItem *active = row(25);
    const QPoint centre = active->mapToScene(QPointF(20, active->height() / 2)).toPoint();
    QTest::mouseClick(scene->window.get(), Qt::LeftButton, {}, centre);
    QTRY_COMPARE(QGuiApplication::clipboard()->text(), g->vm.lyricLines().at(25).text);
    QCOMPARE(g->toasts.currentText(), QStringLiteral("已复制 / Copied"));
}

void TestMainView::retryAsksTheHost()
{
    g->vm.resetForNewSong(PlayerGraph::track());
    g->vm.setLyricsError(QStringLiteral("连接超时"));
    QVERIFY(loadMainView());
    QSignalSpy retries(scene->root, SIGNAL(retryLyricsRequested()));
    auto *retry = scene->find(QStringLiteral("lyricsArea.retry"));
    QVERIFY(retry);
    QTRY_VERIFY(retry->isVisible());
    QCOMPARE(scene->find(QStringLiteral("lyricsArea.failureTitle"))->property("text").toString(),
             QStringLiteral("歌词获取失败"));
    QCOMPARE(scene->find(QStringLiteral("lyricsArea.failureDetail"))->property("text").toString(),
             QStringLiteral("连接超时"));
    const QPoint centre = retry->mapToScene(QPointF(retry->width() / 2, retry->height() / 2)).toPoint();
    QTest::mouseClick(scene->window.get(), Qt::LeftButton, {}, centre);
    QTRY_COMPARE(retries.count(), 1);
}

void TestMainView::columnsShareTheWidth_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("studyWidth");
    QTest::addColumn<double>("contentHeight");
    QTest::newRow("minimum") << 680 << 800 << 320.0 << 800.0;
    QTest::newRow("wide") << 1200 << 950 << 840.0 << 950.0;
    QTest::newRow("smaller than the minimum keeps 680 × 800") << 500 << 600 << 320.0 << 800.0;
}

void TestMainView::columnsShareTheWidth()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, studyWidth);
    QFETCH(double, contentHeight);
    QVERIFY(loadMainView({width, height}));
    QTRY_COMPARE(scene->find(QStringLiteral("mainView.studyPanel"))->width(), studyWidth);
    QCOMPARE(scene->find(QStringLiteral("mainView.lyricsPanel"))->width(), 360.0);
    QCOMPARE(scene->find(QStringLiteral("mainView.content"))->height(), contentHeight);
}

void TestMainView::compactPanelAloneShowsIdle()
{
    QVERIFY(loadMainView({360, 900}, "CompactLyricsPanel", true));
    QTRY_VERIFY(scene->find(QStringLiteral("compactPanel.idle"))->isVisible());
    // The song's column is built with the first song.
    QVERIFY(!scene->find(QStringLiteral("compactPanel.nowPlaying")));

    g->startSong(PlayerGraph::lines(5), 1.0);
    QQuickItem *column = scene->find(QStringLiteral("compactPanel.nowPlaying"));
    QVERIFY(column);
    QTRY_VERIFY(column->isVisible());
    QTRY_VERIFY(!scene->find(QStringLiteral("compactPanel.idle"))->isVisible());
    QCOMPARE(scene->find(QStringLiteral("compactPanel.artist"))->property("text").toString(),
             QStringLiteral("Artist · Album"));
    // And kept when the song goes.
    g->vm.resetForNoTrack();
    QTRY_VERIFY(scene->find(QStringLiteral("compactPanel.idle"))->isVisible());
    QTRY_VERIFY(!column->isVisible());
    QCOMPARE(scene->find(QStringLiteral("compactPanel.nowPlaying")), column);
}

// The header chip: the glowing cyan dot, then the label in white; the badges 4 points in.
void TestMainView::nowPlayingChipAndBadges()
{
    QVERIFY(loadMainView());
    g->startSong(PlayerGraph::lines(5), 1.0);
    g->vm.setCurrentSource(LyricsSource::lrclib);
    QQuickItem *dot = nullptr;
    QQuickItem *label = nullptr;
    QTRY_VERIFY((dot = scene->find(QStringLiteral("compactPanel.nowPlayingDot")))
                && (label = scene->find(QStringLiteral("compactPanel.nowPlayingLabel"))) && label->isVisible());
    QVERIFY(dot->mapToScene(QPointF(dot->width(), 0)).x() <= label->mapToScene(QPointF(0, 0)).x());
    QCOMPARE(label->property("color").value<QColor>(), QColor(Qt::white));
    QCOMPARE(label->property("text").toString(), QStringLiteral("NOW PLAYING"));
    QQuickItem *badges = nullptr;
    QTRY_VERIFY((badges = scene->find(QStringLiteral("lyricsArea.badges"))) && badges->isVisible());
    QCOMPARE(badges->mapToItem(scene->find(QStringLiteral("mainView.lyricsPanel")), QPointF(0, 0)).x(), 4.0);
}

QTEST_MAIN(TestMainView)
#include "tst_mainview.moc"
